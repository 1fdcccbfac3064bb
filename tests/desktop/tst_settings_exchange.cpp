// The settings window's export and import: what the user is told, where the panels open, and
// the import from an installed browser.
#include "exchange/DataExchange.h"
#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "support/TestEnvironment.h"
#include "ui/BrowserImportDialog.h"
#include "ui/SettingsView.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

class SettingsExchangeTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<ModelContainer> m_container;
    std::unique_ptr<DataExchange> m_exchange;

    ModelContext *context() const { return m_container->mainContext(); }

    static QString nameField(QFileDialog *panel)
    {
        auto *edit = panel->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        return edit ? edit->text() : QStringLiteral("<no name field>");
    }

    static QString chromiumProfileFolder()
    {
        return qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/chromium/Default");
    }

private Q_SLOTS:
    void init()
    {
        QString error;
        static int round = 0;
        m_container = ModelContainer::open(m_dir.filePath(QStringLiteral("s%1.sqlite").arg(++round)), &error);
        QVERIFY2(m_container, qPrintable(error));
        m_exchange = std::make_unique<DataExchange>(context());
        m_exchange->setSignalHook([](const QString &, const QMap<QString, QString> &) {});
        m_exchange->setFetchFunction([](QString) -> QCoro::Task<LinkMetadata> { co_return LinkMetadata {}; });
        auto *group = new BookmarkGroup(QStringLiteral("组"));
        context()->insert(group);
        new BookmarkItem(QStringLiteral("https://a.example/"), group);
    }

    void cleanup()
    {
        QFile::remove(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
            + QStringLiteral("/Bramble/Bramble.conf"));
        QDir(chromiumProfileFolder()).removeRecursively();
        // An import's refresh left running would end with the test, its lanes never resumed.
        QTRY_VERIFY(!m_exchange || !m_exchange->isRefreshingMetadata());
        m_exchange.reset();
        m_container.reset();
    }

    void exportSaysHowItWent()
    {
        SettingsView view(context(), m_exchange.get());
        view.show();
        QSignalSpy exported(&view, &SettingsView::exportFinished);
        const QString file = m_dir.filePath(QStringLiteral("backup.json"));
        view.exportTo(file);
        QVERIFY(exported.count() == 1 || exported.wait(5000));
        QVERIFY(exported.first().first().toBool());
        QVERIFY(view.resultAlert());
        QCOMPARE(view.resultAlert()->text(), QStringLiteral("Export Successful"));
        QVERIFY2(view.resultAlert()->informativeText().contains(QStringLiteral("backup.json")),
            qPrintable(view.resultAlert()->informativeText()));

        // A failed save is not a backup: the user is told why.
        const QString folder = m_dir.filePath(QStringLiteral("a-folder.json"));
        QVERIFY(QDir().mkpath(folder));
        exported.clear();
        view.exportTo(folder);
        QVERIFY(exported.count() == 1 || exported.wait(5000));
        QVERIFY(!exported.first().first().toBool());
        QCOMPARE(view.resultAlert()->text(), QStringLiteral("Export Failed"));
        QVERIFY2(view.resultAlert()->informativeText().contains(QStringLiteral("it is a folder")),
            qPrintable(view.resultAlert()->informativeText()));

        // The save panel writes the format of its chosen filter.
        const QString html = m_dir.filePath(QStringLiteral("bookmarks.html"));
        exported.clear();
        view.exportTo(html, ExportFormat::Html);
        QVERIFY(exported.count() == 1 || exported.wait(5000));
        QFile written(html);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QVERIFY(written.readAll().startsWith("<!DOCTYPE NETSCAPE-Bookmark-file-1>"));
    }

    void panelsOpenInTheLastFolderUsed()
    {
        SettingsView view(context(), m_exchange.get());
        view.show();
        // Nothing remembered: the home folder, with nothing but the suggested name typed.
        QCOMPARE(SettingsView::panelFolder(), QDir::homePath());
        view.exportAll();
        QVERIFY(view.filePanel());
        QCOMPARE(QDir(view.filePanel()->directory()).absolutePath(), QDir::homePath());
        QCOMPARE(nameField(view.filePanel()), QStringLiteral("Bramble_Backup.json"));
        QVERIFY(view.filePanel()->nameFilters().contains(QStringLiteral("HTML (浏览器书签) (*.html *.htm)")));
        view.filePanel()->close();

        const QString folder = m_dir.filePath(QStringLiteral("backups"));
        QVERIFY(QDir().mkpath(folder));
        QSignalSpy exported(&view, &SettingsView::exportFinished);
        view.exportTo(folder + QStringLiteral("/b.json"));
        QVERIFY(exported.count() == 1 || exported.wait(5000));
        QCOMPARE(SettingsView::panelFolder(), folder);
        view.showImporter();
        QVERIFY(view.filePanel());
        QCOMPARE(QDir(view.filePanel()->directory()).absolutePath(), folder);
        QCOMPARE(nameField(view.filePanel()), QString());
        view.filePanel()->close();

        // A remembered folder that has gone away falls back to the home folder.
        QVERIFY(QDir(folder).removeRecursively());
        QCOMPARE(SettingsView::panelFolder(), QDir::homePath());
    }

    void importFromABrowserProfile()
    {
        SettingsView view(context(), m_exchange.get());
        view.show();
        QVERIFY(view.browserImportButton());
        QCOMPARE(view.browserImportButton()->text(), QStringLiteral("从浏览器导入…"));
        // The section's new rows fit the window's fixed size: nothing is squeezed or cut off.
        QWidget *general = view.tabs()->widget(0);
        QVERIFY2(general->minimumSizeHint().height() <= general->height(),
            qPrintable(
                QStringLiteral("%1 > %2").arg(general->minimumSizeHint().height()).arg(general->height())));
        QCheckBox *skip = view.skipExistingSwitch();
        QVERIFY(skip->mapTo(general, QPoint(0, skip->height())).y() <= general->height());

        // None installed: the dialog says so.
        view.browserImportButton()->click();
        BrowserImportDialog *dialog = view.browserImporter();
        QVERIFY(dialog);
        QSignalSpy found(dialog, &BrowserImportDialog::profilesFound);
        QVERIFY(found.count() == 1 || found.wait(10000));
        QCOMPARE(found.first().first().toInt(), 0);
        QVERIFY2(dialog->statusText()->text().contains(QStringLiteral("没有找到")),
            qPrintable(dialog->statusText()->text()));
        QVERIFY(!dialog->importButton()->isEnabled());
        dialog->reject();
        QTRY_VERIFY(!view.browserImporter());

        QVERIFY(QDir().mkpath(chromiumProfileFolder()));
        QFile bookmarks(chromiumProfileFolder() + QStringLiteral("/Bookmarks"));
        QVERIFY(bookmarks.open(QIODevice::WriteOnly));
        bookmarks.write(
            "{\"roots\":{\"bookmark_bar\":{\"type\":\"folder\",\"children\":["
            "{\"type\":\"url\",\"name\":\"A\",\"url\":\"https://a.example/\"},"
            "{\"type\":\"url\",\"name\":\"B\",\"url\":\"https://b.example/\"},"
            "{\"type\":\"url\",\"name\":\"B again\",\"url\":\"https://b.example/\"}]}},\"version\":1}");
        bookmarks.close();
        view.browserImportButton()->click();
        dialog = view.browserImporter();
        QVERIFY(dialog);
        QSignalSpy listed(dialog, &BrowserImportDialog::profilesFound);
        QVERIFY(listed.count() == 1 || listed.wait(10000));
        QCOMPARE(listed.first().first().toInt(), 1);
        QTreeWidget *list = dialog->profileList();
        QCOMPARE(list->topLevelItemCount(), 1);
        QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("Chromium"));
        QVERIFY(list->topLevelItem(0)->text(1).startsWith(QStringLiteral("Default")));
        QCOMPARE(list->topLevelItem(0)->text(2), QStringLiteral("3"));
        QVERIFY(dialog->importButton()->isEnabled());
        QVERIFY(dialog->skipExistingSwitch()->isChecked());

        QSignalSpy imported(&view, &SettingsView::importFinished);
        dialog->importButton()->click();
        QVERIFY(imported.count() == 1 || imported.wait(10000));
        QVERIFY(imported.first().first().toBool());
        // a.example is in the library, and b.example comes twice: one new link.
        QCOMPARE(context()->itemCount(), 2);
        QCOMPARE(view.resultAlert()->text(), QStringLiteral("Import Successful"));
        QCOMPARE(view.resultAlert()->informativeText(), QStringLiteral("已跳过 2 个重复链接"));
    }

    void importSwitchSkipsWhatTheLibraryHas()
    {
        SettingsView view(context(), m_exchange.get());
        view.show();
        const QString file = m_dir.filePath(QStringLiteral("again.json"));
        QSignalSpy exported(&view, &SettingsView::exportFinished);
        view.exportTo(file);
        QVERIFY(exported.count() == 1 || exported.wait(5000));
        QSignalSpy imported(&view, &SettingsView::importFinished);
        view.skipExistingSwitch()->setChecked(true);
        view.importFrom(file);
        QVERIFY(imported.count() == 1 || imported.wait(5000));
        QCOMPARE(context()->itemCount(), 1);
        QCOMPARE(view.resultAlert()->informativeText(), QStringLiteral("已跳过 1 个重复链接"));
        imported.clear();
        view.skipExistingSwitch()->setChecked(false);
        view.importFrom(file);
        QVERIFY(imported.count() == 1 || imported.wait(5000));
        QCOMPARE(context()->itemCount(), 2);
    }
};

BRAMBLE_TEST_MAIN(SettingsExchangeTest)
#include "tst_settings_exchange.moc"
