// The server manager's "Test" button: the server as its fields stand, saved or not, tested.
#include "config/Config.h"
#include "configwindow/ConfigWindow.h"
#include "configwindow/ServerTestDialog.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

namespace quaddle {

QPushButton* ConfigWindow::makeTestServerButton(QWidget* parent) {
    m_testServerButton = new QPushButton(tr("Test"), parent);
    m_testServerButton->setObjectName(QStringLiteral("testServerButton"));
    m_testServerButton->setToolTip(tr("Logs in, puts a small test file into the default "
                                      "directory, fetches it from its address and deletes it "
                                      "again: the settings as typed, saved or not."));
    connect(m_testServerButton, &QPushButton::clicked, this, &ConfigWindow::testTypedServer);
    return m_testServerButton;
}

void ConfigWindow::testTypedServer() {
    if (m_hostEdit->text().isEmpty()) {
        reportError(tr("Please enter a hostname."));
        m_hostEdit->setFocus();
        return;
    }
    if (!checkServerFields())
        return;
    // The test works on a copy, so that nothing typed is stored before Save.
    Config trial = m_config;
    const bool saved = m_editedServer >= 0 && m_editedServer < trial.servers.size();
    const qint32 index = saved ? m_editedServer : qint32(trial.servers.size());
    if (!saved) {
        trial.servers.append(ServerRecord{});
        trial.serverNames.append(tr("New Server"));
        trial.serverFolders.append(QStringList());
    }
    const ServerRecord record = typedServer();
    trial.servers[index] = record;
    ServerTestDialog test(trial, index, this);
    test.exec();
    // A certificate trusted during the test is the saved server's to keep, when it is that
    // server's host.
    const QString trusted = trial.servers[index].trustedCert;
    if (saved && m_config.serverExists(index) && m_config.servers[index].host == record.host &&
        m_config.servers[index].trustedCert != trusted) {
        m_config.servers[index].trustedCert = trusted;
        saveConfig();
    }
}

} // namespace quaddle
