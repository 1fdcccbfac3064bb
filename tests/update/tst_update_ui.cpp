#include "UpdateTestSupport.h"
#include "support/TestEnvironment.h"
#include "ui/UpdateDialogs.h"
#include "ui/UpdateSettingsView.h"
#include "update/ByteCountFormatter.h"
#include "update/UpdaterViewModel.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBrowser>

namespace {
UpdaterViewModelConfiguration configurationFor(Rig &rig)
{
    UpdaterViewModelConfiguration c;
    c.feedURL = rig.feedURL;
    c.publicKey = rig.keys.publicKeyBase64;
    c.infoDictionary = { { QStringLiteral("CFBundleShortVersionString"), QStringLiteral("1.10") },
        { QStringLiteral("CFBundleVersion"), QStringLiteral("10") } };
    c.settingsPath = rig.dir.path() + QStringLiteral("/Bramble.conf");
    c.installTarget.kind = InstallTarget::Kind::Portable;
    c.installTarget.path = rig.installPath;
    c.installTarget.executable = QStringLiteral("bramble");
    c.firstCheckDelay = std::chrono::hours(1);
    return c;
}

template<typename T> T *child(QWidget *root, const char *name)
{
    return root->findChild<T *>(QLatin1String(name));
}

QString text(QWidget *root, const char *name)
{
    QLabel *label = child<QLabel>(root, name);
    return label ? label->text() : QStringLiteral("<missing %1>").arg(QLatin1String(name));
}

bool visible(QWidget *root, const char *name)
{
    QWidget *widget = child<QWidget>(root, name);
    return widget && widget->isVisibleTo(root);
}
} // namespace

class UpdateUiTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void settingsTabBeforeAnyCheck();
    void automaticCheckToggleShowsCaptionAndPersists();
    void statusIconAndDetailsFollowTheState();
    void retryStartsACheckLikeTheMainButton();
    void updateFoundDialogInstallsAndRelaunches();
    void skipAndUpToDateDialogs();
    void failureDialogShowsDescriptionAndRecovery();
};

void UpdateUiTest::settingsTabBeforeAnyCheck()
{
    Rig rig;
    UpdaterViewModel model(configurationFor(rig));
    UpdateSettingsView view(&model);
    view.show();
    QCOMPARE(text(&view, "lastCheckValue"), QStringLiteral("Never"));
    QCOMPARE(text(&view, "currentVersionValue"), QStringLiteral("1.10"));
    QCOMPARE(text(&view, "buildNumberValue"), QStringLiteral("10"));
    QCOMPARE(text(&view, "statusText"), QStringLiteral("Ready to check for updates"));
    QVERIFY(!visible(&view, "statusIcon"));
    QVERIFY(!visible(&view, "checkingIndicator"));
    QVERIFY(!visible(&view, "errorBox"));
    QVERIFY(!visible(&view, "availableUpdateBox"));
    QVERIFY(!visible(&view, "automaticCheckingDisabledCaption"));
    // Disabled until the updater is there to answer.
    QVERIFY(!child<QPushButton>(&view, "checkForUpdatesButton")->isEnabled());
    QTRY_VERIFY(child<QPushButton>(&view, "checkForUpdatesButton")->isEnabled());

    // A completed check shows up as a relative time.
    QDateTime now(QDate(2026, 12, 8), QTime(12, 0), Qt::UTC);
    UpdaterViewModelConfiguration c = configurationFor(rig);
    c.settingsPath = rig.dir.path() + QStringLiteral("/second.conf");
    c.now = [&now] { return now; };
    UpdaterViewModel second(c);
    UpdateSettingsView secondView(&second);
    secondView.show();
    ConsoleCapture console;
    second.updaterDidNotFindUpdate(nullptr);
    console.lines();
    now = now.addSecs(2 * 3600 + 5);
    secondView.refresh();
    QCOMPARE(text(&secondView, "lastCheckValue"), QStringLiteral("2 hours ago"));
    QCOMPARE(text(&secondView, "statusText"), QStringLiteral("Bramble is up to date"));
}

void UpdateUiTest::automaticCheckToggleShowsCaptionAndPersists()
{
    Rig rig;
    const UpdaterViewModelConfiguration c = configurationFor(rig);
    UpdaterViewModel model(c);
    UpdateSettingsView view(&model);
    view.show();
    QCheckBox *checks = child<QCheckBox>(&view, "automaticChecksToggle");
    QCheckBox *downloads = child<QCheckBox>(&view, "automaticDownloadsToggle");
    QVERIFY(checks->isChecked());
    QVERIFY(!downloads->isChecked());
    ConsoleCapture console;
    checks->click();
    downloads->click();
    const QStringList lines = console.lines();
    QVERIFY(visible(&view, "automaticCheckingDisabledCaption"));
    QVERIFY(!model.automaticallyChecksForUpdates());
    QVERIFY(model.automaticallyDownloadsUpdates());
    QVERIFY(lines.contains(QStringLiteral("🛑 Automatic checking disabled - stopping automatic checks")));
    QSettings settings(c.settingsPath, QSettings::IniFormat);
    QCOMPARE(
        settings.value(QStringLiteral("automaticallyChecksForUpdates")).toString(), QStringLiteral("false"));
    QCOMPARE(
        settings.value(QStringLiteral("automaticallyDownloadsUpdates")).toString(), QStringLiteral("true"));
    // Changed elsewhere (the same controller in another window), the toggle follows.
    ConsoleCapture quiet;
    model.setAutomaticallyChecks(true);
    quiet.lines();
    QVERIFY(checks->isChecked());
    QVERIFY(!visible(&view, "automaticCheckingDisabledCaption"));
}

void UpdateUiTest::statusIconAndDetailsFollowTheState()
{
    Rig rig;
    UpdaterViewModel model(configurationFor(rig));
    UpdateSettingsView view(&model);
    view.show();
    ConsoleCapture console;
    AppcastItem item;
    item.versionString = QStringLiteral("11");
    item.displayVersionString = QStringLiteral("1.11");
    item.fileURL = QUrl(rig.feedURL + QStringLiteral("B.tar.gz"));
    item.contentLength = 2'500'000;
    model.updaterDidFindValidUpdate(nullptr, item);
    QCOMPARE(child<QLabel>(&view, "statusIcon")->property("symbol").toString(),
        QStringLiteral("arrow.down.circle.fill"));
    QVERIFY(visible(&view, "availableUpdateBox"));
    QCOMPARE(text(&view, "availableUpdateSize"), QStringLiteral("Size: 2.5 MB"));
    QCOMPARE(text(&view, "statusText"), QStringLiteral("Update available: 1.11"));

    model.updaterDidAbortWithError(nullptr, UpdateError::signatureVerificationFailed());
    QCOMPARE(child<QLabel>(&view, "statusIcon")->property("symbol").toString(),
        QStringLiteral("exclamationmark.triangle.fill"));
    QVERIFY(visible(&view, "errorBox"));
    QCOMPARE(text(&view, "errorDescription"), QStringLiteral("Update signature verification failed"));
    QCOMPARE(text(&view, "errorRecovery"),
        QStringLiteral(
            "The update may be corrupted or tampered with. Please try downloading again or contact "
            "support."));

    UpdaterViewModelConfiguration c = configurationFor(rig);
    c.settingsPath = rig.dir.path() + QStringLiteral("/fresh.conf");
    UpdaterViewModel fresh(c);
    UpdateSettingsView freshView(&fresh);
    freshView.show();
    fresh.updaterDidNotFindUpdate(nullptr);
    console.lines();
    QCOMPARE(child<QLabel>(&freshView, "statusIcon")->property("symbol").toString(),
        QStringLiteral("checkmark.circle.fill"));
    QVERIFY(!visible(&freshView, "errorBox"));
}

void UpdateUiTest::retryStartsACheckLikeTheMainButton()
{
    Rig rig;
    QVERIFY(rig.server);
    rig.setFeed({});
    UpdaterViewModel model(configurationFor(rig));
    UpdateSettingsView view(&model);
    view.show();
    QTRY_VERIFY(model.canCheckForUpdates());
    ConsoleCapture console;
    model.updaterDidAbortWithError(
        nullptr, GenericError { QStringLiteral("X"), 1, QStringLiteral("a network hiccup") });
    QVERIFY(visible(&view, "retryButton"));
    child<QPushButton>(&view, "retryButton")->click();
    QVERIFY(model.isCheckingForUpdates());
    QVERIFY(!model.updateError());
    QVERIFY(visible(&view, "checkingIndicator"));
    QCOMPARE(text(&view, "statusText"), QStringLiteral("Checking for updates..."));
    QTRY_VERIFY_WITH_TIMEOUT(!model.isCheckingForUpdates(), 20000);
    const QStringList lines = console.lines();
    QCOMPARE(lines.count(QStringLiteral("🔍 Starting manual update check...")), 1);
    QCOMPARE(rig.site->log(), QStringList({ "/feed/" }));
    QCOMPARE(text(&view, "statusText"), QStringLiteral("Bramble is up to date"));
}

void UpdateUiTest::updateFoundDialogInstallsAndRelaunches()
{
    Rig rig;
    QVERIFY(rig.server);
    FeedEntry entry = rig.publish(QStringLiteral("11"), newRelease("eleven"), QStringLiteral("B-11.tar.gz"));
    entry.description = QStringLiteral("<ul><li>Faster sidebar</li></ul>");
    rig.setFeed({ entry });
    UpdaterViewModel model(configurationFor(rig));
    UpdateDialogs dialogs(&model);
    model.setUserDriver(&dialogs);
    QSignalSpy relaunch(&model, &UpdaterViewModel::relaunchRequested);
    QTRY_VERIFY(model.canCheckForUpdates());
    ConsoleCapture console;
    model.checkForUpdates();
    QTRY_VERIFY_WITH_TIMEOUT(dialogs.updateFoundDialog() && dialogs.updateFoundDialog()->isVisible(), 20000);
    QDialog *found = dialogs.updateFoundDialog();
    QVERIFY(text(found, "updateFoundSummary")
                .contains(QLatin1String("Bramble 1.11 is now available - you have 1.10")));
    QVERIFY(
        child<QTextBrowser>(found, "releaseNotes")->toPlainText().contains(QLatin1String("Faster sidebar")));
    QCOMPARE(text(found, "updateSize"), QStringLiteral("Size: ") + formatByteCount(entry.length));
    QVERIFY(!model.canCheckForUpdates());
    child<QPushButton>(found, "installButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(relaunch.count() == 1, 20000);
    console.lines();
    QCOMPARE(readFile(rig.installPath + QStringLiteral("/bramble")), QByteArray("eleven"));
    QTRY_VERIFY(!dialogs.progressDialog());
}

void UpdateUiTest::skipAndUpToDateDialogs()
{
    Rig rig;
    QVERIFY(rig.server);
    rig.setFeed({ rig.publish(QStringLiteral("11"), newRelease(), QStringLiteral("B-11.tar.gz")) });
    const UpdaterViewModelConfiguration c = configurationFor(rig);
    UpdaterViewModel model(c);
    UpdateDialogs dialogs(&model);
    model.setUserDriver(&dialogs);
    QTRY_VERIFY(model.canCheckForUpdates());
    ConsoleCapture console;
    model.checkForUpdates();
    QTRY_VERIFY_WITH_TIMEOUT(dialogs.updateFoundDialog() && dialogs.updateFoundDialog()->isVisible(), 20000);
    child<QPushButton>(dialogs.updateFoundDialog(), "skipButton")->click();
    QTRY_VERIFY(model.canCheckForUpdates());
    QCOMPARE(model.updaterController()->updater()->skippedVersion(), QStringLiteral("11"));
    QVERIFY(rig.installationUntouched());

    rig.setFeed({});
    model.checkForUpdates();
    QTRY_VERIFY_WITH_TIMEOUT(dialogs.messageBox() && dialogs.messageBox()->isVisible(), 20000);
    console.lines();
    QCOMPARE(dialogs.messageBox()->text(), QStringLiteral("You're up to date!"));
    QVERIFY(dialogs.messageBox()->informativeText().contains(QLatin1String("1.10")));
}

void UpdateUiTest::failureDialogShowsDescriptionAndRecovery()
{
    Rig rig;
    QVERIFY(rig.server);
    FeedEntry entry = rig.publish(QStringLiteral("11"), newRelease(), QStringLiteral("B-11.tar.gz"));
    entry.signature = UpdateSignature::sign("something else", rig.keys.secretKeyBase64);
    rig.setFeed({ entry });
    UpdaterViewModel model(configurationFor(rig));
    UpdateDialogs dialogs(&model);
    model.setUserDriver(&dialogs);
    QTRY_VERIFY(model.canCheckForUpdates());
    ConsoleCapture console;
    model.checkForUpdates();
    QTRY_VERIFY_WITH_TIMEOUT(dialogs.updateFoundDialog() && dialogs.updateFoundDialog()->isVisible(), 20000);
    child<QPushButton>(dialogs.updateFoundDialog(), "installButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(dialogs.messageBox() && dialogs.messageBox()->isVisible(), 20000);
    console.lines();
    QCOMPARE(dialogs.messageBox()->text(), QStringLiteral("Update signature verification failed"));
    QCOMPARE(dialogs.messageBox()->informativeText(),
        UpdateError::signatureVerificationFailed().recoverySuggestion());
    QVERIFY(rig.installationUntouched());
}

BRAMBLE_TEST_MAIN(UpdateUiTest)
#include "tst_update_ui.moc"
