#include "ProgramFixture.h"

#include <QTest>

namespace quaddle::test {

void ProgramFixture::startTest() {
    m_programDir = std::make_unique<TempProgramDir>();
    m_dialogs = std::make_unique<ScriptedDialogs>();
}

void ProgramFixture::finishTest() {
    QUADDLE_VERIFY_DIALOGS(*m_dialogs);
    m_dialogs.reset();
    m_programDir.reset();
}

} // namespace quaddle::test
