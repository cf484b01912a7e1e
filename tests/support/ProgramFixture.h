#pragma once

#include "ScriptedDialogs.h"
#include "TempProgramDir.h"

#include <memory>

namespace quaddle::test {

// What most window and configuration tests need around each test function: a throw-away
// program directory, and dialogs that answer from the test's script. The test's init() calls
// startTest(), its cleanup() finishTest().
class ProgramFixture {
protected:
    void startTest();
    // Fails the test when the questions went otherwise than scripted; removes both.
    void finishTest();

    std::unique_ptr<TempProgramDir> m_programDir;
    std::unique_ptr<ScriptedDialogs> m_dialogs;
};

} // namespace quaddle::test
