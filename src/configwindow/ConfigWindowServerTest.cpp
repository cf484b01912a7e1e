// The server manager's server as its fields stand, and its test, saved or not.
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

ServerRecord ConfigWindow::typedServer() const {
    ServerRecord record;
    record.host = m_hostEdit->text();
    record.port = editValue(m_portEdit);
    record.user = m_userEdit->text();
    record.password = m_passwordEdit->text();
    record.rootDir = m_rootDirEdit->text();
    record.defaultDir = m_defaultDirEdit->text();
    record.urlMask = editValue(m_urlMaskEdit);
    record.type = QString::number(m_typeBox->currentIndex());
    record.keyFile = m_keyFileEdit->text();
    record.chmod = m_permissionsEdit->text();
    const bool psftp =
        m_typeBox->currentIndex() == int(ServerType::Sftp) && m_sshClientBox->currentIndex() == 1;
    record.sshClient = psftp ? SshClientPsftp : QString();
    // A trusted certificate belongs to the host that showed it.
    const bool saved = m_editedServer >= 0 && m_editedServer < m_config.servers.size();
    if (saved && m_config.servers[m_editedServer].host == record.host)
        record.trustedCert = m_config.servers[m_editedServer].trustedCert;
    return record;
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
