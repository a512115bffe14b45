#pragma once

#include "Connection.h"
#include "DataSet.h"
#include "TableEngine.h"

#include <memory>
#include <string>
#include <vector>

namespace sorvanto {

enum class TSQLCommandType { ctUnknown, ctQuery, ctTable, ctStoredProc };

// The command kind a statement of each command type is created with.
const char* CommandKind(TSQLCommandType type) noexcept;

// The inner command of a cached table dataset: a forward-only dataset that runs the table's
// SELECT on its connection and describes the result's columns as fields.
class TSQLDataSet : public TDataSet, public TConnectionClient {
public:
    explicit TSQLDataSet(std::string name = "InternalDataSet");
    ~TSQLDataSet() override;

    TSQLConnection* SQLConnection() const noexcept { return connection_; }
    void SetSQLConnection(TSQLConnection* connection);

    TSQLCommandType CommandType() const noexcept { return commandType_; }
    void SetCommandType(TSQLCommandType type);
    const std::string& CommandText() const noexcept { return commandText_; }
    void SetCommandText(const std::string& text);
    // Kilobytes; 0: blob contents are not read; otherwise they are read whole.
    int MaxBlobSize = 0;
    bool GetMetadata = true;
    std::string SchemaName, SortFieldNames;
    TDataSetObserver* DataSource = nullptr;
    TDataSetObserver* MasterSource() const override { return DataSource; }

    // The statement text run for a table: " select * from " and the quoted table name.
    std::string TableSelectText() const;
    const std::vector<TFieldDef>& FieldDefs() const noexcept { return fieldDefs_; }
    // The key columns found at the last opening.
    const std::vector<std::string>& KeyFields() const noexcept { return keyFields_; }

    // Appends the current row to the store the builder writes.
    void WriteCurrentRow(TRowStore::Builder& row);
    // Steps to the next row; false at the end.
    bool NextRow();
    bool AtRow() const noexcept { return onRow_; }

    // TConnectionClient
    bool ClientActive() const override { return Active(); }
    void CloseForConnection() override;
    void ConnectionChanged(TCustomConnection&, bool) override {}

protected:
    void InternalOpen() override;
    void InternalClose() override;
    bool GetFirst(TRecordPos& pos) override;
    bool GetLast(TRecordPos& pos) override;
    bool GetNext(TRecordPos from, TRecordPos& pos) override;
    bool GetPrior(TRecordPos from, TRecordPos& pos) override;
    TValue GetRecordValue(TRecordPos pos, int field) const override;
    bool IsUnidirectional() const override { return true; }
    TRecordPos InternalPost(TRecordPos, bool, bool) override;
    bool InternalDelete(TRecordPos, TRecordPos&) override;
    bool CanModify() const override { return false; }

private:
    void ReleaseStatement();
    void FindKey();
    // Plans, once per cursor, how each field goes from the fetch buffer into a stored row.
    void PlanRowCopy();
    void CopyCurrentRow(TRowStore::Builder& row);
    // Writes a text column's value, read by its character set, into the row.
    void WriteText(TRowStore::Builder& row, int column);
    std::string QuotedTableName() const;

    TSQLConnection* connection_ = nullptr;
    TSQLCommandType commandType_ = TSQLCommandType::ctQuery;
    std::string commandText_;
    std::unique_ptr<TSQLResultSet> rows_;
    std::vector<TFieldDef> fieldDefs_;
    std::vector<int> columnOfField_; // result column of each field
    // The copy of one field: how it is encoded on the way, and where its value and its null
    // flag lie in the fetch buffer. Empty when some field needs the reader's getters.
    enum class CopyOp : std::uint8_t {
        Copy2,
        Copy4,
        Copy8,
        ShortTo8,
        LongTo8,
        FloatTo8,
        DoubleTo4,
        Boolean,
        Date,
        TimeStamp,
        Varying
    };
    struct CopyStep {
        CopyOp op;
        unsigned offset;
        unsigned nullOffset;
        unsigned length; // the longest varying text
    };
    std::vector<CopyStep> copyPlan_;
    std::size_t copyRowBytes_ = 0; // the most value bytes a copied row can take
    std::vector<std::string> keyFields_;
    std::string text_, wire_; // a text value being written, their buffers reused
    std::int64_t rowNumber_ = -1;
    bool onRow_ = false;
    bool started_ = false;
};

// Turns a column description into a field definition; false when the column gives no field.
bool FieldDefFromColumn(const TDrvColumnDesc& column, TFieldDef& def);

} // namespace sorvanto
