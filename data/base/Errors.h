#pragma once

#include <exception>
#include <memory>
#include <string>

namespace sorvanto {

// Base of every failure the system raises: a kind (the class name shown to the operator),
// a message and optionally the failure that caused it.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    ~Exception() override = default;

    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const noexcept { return message_; }
    void SetMessage(std::string message) { message_ = std::move(message); }
    virtual const char* ClassName() const noexcept { return "Exception"; }

private:
    std::string message_;
};

class EDatabaseError : public Exception {
public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EDatabaseError"; }
};

// An error of the database driver: its code and its text; for an error of the engine, also its
// SQL code and GDS code, and the statement that failed when the driver knows it.
class TDriverError : public EDatabaseError {
public:
    TDriverError(int errorCode, std::string message)
        : EDatabaseError(std::move(message)), errorCode_(errorCode) {}
    const char* ClassName() const noexcept override { return "TDriverError"; }
    int ErrorCode() const noexcept { return errorCode_; }
    int SqlCode() const noexcept { return sqlCode_; }
    int GdsCode() const noexcept { return gdsCode_; }
    const std::string& Statement() const noexcept { return statement_; }
    void SetEngineCodes(int sqlCode, int gdsCode) noexcept {
        sqlCode_ = sqlCode;
        gdsCode_ = gdsCode;
    }
    void SetStatement(std::string statement) { statement_ = std::move(statement); }

private:
    int errorCode_;
    int sqlCode_ = 0;
    int gdsCode_ = 0;
    std::string statement_;
};

// A long operation that the operator stopped: it ended as if it had failed, leaving everything
// as it was before it began.
class EOperationCancelled : public EDatabaseError {
public:
    using EDatabaseError::EDatabaseError;
    const char* ClassName() const noexcept override { return "EOperationCancelled"; }
};

// A file that exists but cannot be opened.
class EFOpenError : public Exception {
public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EFOpenError"; }
};

// A change that the database refused, as a reconcile handler sees it.
class EReconcileError : public EDatabaseError {
public:
    EReconcileError(std::string message, std::string context, int errorCode, int previousError)
        : EDatabaseError(std::move(message)), context_(std::move(context)), errorCode_(errorCode),
          previousError_(previousError) {}
    const char* ClassName() const noexcept override { return "EReconcileError"; }
    const std::string& Context() const noexcept { return context_; }
    int ErrorCode() const noexcept { return errorCode_; }
    int PreviousError() const noexcept { return previousError_; }

private:
    std::string context_;
    int errorCode_;
    int previousError_;
};

// The text of a driver error code, used when the driver supplies no text of its own.
std::string ErrorCodeToString(int errorCode);

// "%s: %s": the component's name, a colon and a blank, then the message.
std::string ComponentMessage(const std::string& componentName, const std::string& message);

// Driver error codes the data layer itself raises.
namespace DriverCode {
inline constexpr int None = 0;
inline constexpr int Closed = 4; // the connection, statement or reader is already closed
inline constexpr int NotSupported = 5;
inline constexpr int InvalidType = 7;
inline constexpr int InvalidOrdinal = 8;
inline constexpr int InvalidParameter = 9;
inline constexpr int EndOfData = 10;
inline constexpr int InvalidUserOrPassword = 12;
inline constexpr int InvalidLength = 14;
inline constexpr int ConnectFailed = 21;
inline constexpr int DriverInitFailed = 22;
inline constexpr int InvalidArgument = 29;
inline constexpr int NoData = 100;
inline constexpr int VendorError = 101;
} // namespace DriverCode

// Raises TDriverError with the code and its text; with detail, the text is followed by ": " and
// the detail.
[[noreturn]] void RaiseDriverCode(int errorCode, const std::string& detail = {});

} // namespace sorvanto
