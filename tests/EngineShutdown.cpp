// Every test program stops the Firebird engine when its tests are done, so that the engine's
// threads have ended before the process exits and the leak check at exit runs.
#include "FirebirdClient.h"

#include <gtest/gtest.h>

namespace {

class EngineShutdown : public ::testing::Environment {
public:
    void TearDown() override { sorvanto::fbdrv::ShutdownClients(); }
};

[[maybe_unused]] const ::testing::Environment* const registered =
    ::testing::AddGlobalTestEnvironment(new EngineShutdown);

} // namespace
