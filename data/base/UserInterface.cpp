#include "UserInterface.h"

#include "Errors.h"

#include <cstdio>

namespace sorvanto {

namespace {
TUserInterface& Installed() {
    static TUserInterface ui;
    return ui;
}

void ShowFailure(void* sender, const std::exception& error) {
    if (const auto& show = Installed().showFailure)
        show(sender, error);
    else
        std::fprintf(stderr, "%s\n", error.what());
}
} // namespace

void SetUserInterface(TUserInterface ui) {
    Installed() = std::move(ui);
}

const TUserInterface& UserInterface() {
    return Installed();
}

void ShowCaughtFailure(void* sender) {
    try {
        throw;
    } catch (const std::exception& error) {
        ShowFailure(sender, error);
    } catch (...) {
        ShowFailure(sender, Exception("不明なエラーです"));
    }
}

void SetApplicationExceptionDisplay(void (*display)(const std::exception&)) {
    if (display)
        Installed().showFailure = [display](void*, const std::exception& error) { display(error); };
    else
        Installed().showFailure = nullptr;
}

} // namespace sorvanto
