#include "UpdateTestSupport.h"
#include "support/TestEnvironment.h"
#include "ui/LinkOpener.h"
#include "ui/UpdateDialogs.h"
#include "ui/UpdateSettingsView.h"
#include "update/ByteCountFormatter.h"
#include "update/ReleaseNotes.h"
#include "update/UpdaterViewModel.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QTextBrowser>
#include <QTextDocument>
#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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

// Version 11 found in the rig's feed, shown as displayVersion.
AppcastItem foundItem(const Rig &rig, const QString &displayVersion, qint64 length)
{
    AppcastItem item;
    item.versionString = QStringLiteral("11");
    item.displayVersionString = displayVersion;
    item.fileURL = QUrl(rig.feedURL + QStringLiteral("B.tar.gz"));
    item.contentLength = length;
    return item;
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
    void releaseNotesLoadNothing();
    void releaseNotesKeepTextAndWebLinksOnly_data();
    void releaseNotesKeepTextAndWebLinksOnly();
    void releaseNotesAreCutAndOpenOnlyWebLinks();
    void tabSaysWhenThisBuildHasNoUpdates();
    void feedTextsAreNeverMarkup();
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
    const AppcastItem item = foundItem(rig, QStringLiteral("1.11"), 2'500'000);
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

void UpdateUiTest::releaseNotesLoadNothing()
{
    QTemporaryDir dir;
    // A FIFO that nobody writes would block whoever opens it for good; this test holds the
    // writing end and so sees whether anyone opened it for reading.
    const QString fifo = dir.path() + QStringLiteral("/fifo");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    std::atomic<bool> opened { false };
    std::atomic<bool> stop { false };
    std::thread writer([&] {
        while (!stop) {
            const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY);
            if (fd >= 0) {
                if (!stop)
                    opened = true;
                ::close(fd);
            }
        }
    });
    // However the test ends, the writer is let go: a reader that does not wait wakes it.
    const auto release = qScopeGuard([&] {
        stop = true;
        const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
        writer.join();
        ::close(reader);
    });
    const QString big = dir.path() + QStringLiteral("/big.bin");
    {
        QFile file(big);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(qint64(32) * 1024 * 1024));
    }
    const QString picture = dir.path() + QStringLiteral("/picture.png");
    QImage image(8, 8, QImage::Format_ARGB32);
    image.fill(Qt::red);
    QVERIFY(image.save(picture));

    AppcastItem item;
    item.versionString = QStringLiteral("11");
    item.displayVersionString = QStringLiteral("1.11");
    item.contentLength = 100;
    item.itemDescription = QStringLiteral(
        "<html><head><link rel=\"stylesheet\" href=\"%1\"><style>@import url(%1);</style></head>"
        "<body background=\"%3\"><p>Faster <img src=\"%1\"> sidebar</p><img src=\"%2\">"
        "<img src=\"file://%3\"><table background=\"%1\"><tr><td>cell</td></tr></table></body></html>")
                               .arg(fifo, big, picture);
    Rig rig;
    UpdaterViewModel model(configurationFor(rig));
    UpdateDialogs dialogs(&model);
    dialogs.showUpdateFound(item, [](UpdateUserDriver::Choice) {});
    QDialog *found = dialogs.updateFoundDialog();
    QVERIFY(found && found->isVisible());
    auto *notes = child<QTextBrowser>(found, "releaseNotes");
    // Laid out and painted, as on screen.
    found->grab();
    notes->viewport()->grab();
    QVERIFY(notes->toPlainText().contains(QLatin1String("Faster")));
    QVERIFY(notes->toPlainText().contains(QLatin1String("sidebar")));
    QVERIFY(notes->toPlainText().contains(QLatin1String("cell")));
    QVERIFY(!opened.load());
    // Even asked for by name, nothing is read from disk.
    for (const QString &path : { picture, big, fifo })
        QVERIFY(
            !notes->document()->resource(QTextDocument::ImageResource, QUrl::fromLocalFile(path)).isValid());
    QVERIFY(!notes->loadResource(QTextDocument::ImageResource, QUrl::fromLocalFile(picture)).isValid());
    QVERIFY(!opened.load());
}

void UpdateUiTest::releaseNotesKeepTextAndWebLinksOnly_data()
{
    QTest::addColumn<QString>("notes");
    QTest::addColumn<QString>("html");
    QTest::newRow("plain list") << "<ul><li>Faster <b>sidebar</b></li></ul>"
                                << "<ul><li>Faster <b>sidebar</b></li></ul>";
    QTest::newRow("attributes dropped") << "<p style=\"background:url(/etc/x)\" class=\"c\">Hi</p>"
                                        << "<p>Hi</p>";
    QTest::newRow("web link kept") << "<a href=\"https://bramble.example/notes?a=1&b=2\">notes</a>"
                                   << "<a href=\"https://bramble.example/notes?a=1&amp;b=2\">notes</a>";
    QTest::newRow("file link dropped") << "<a href=\"file:///etc/passwd\">passwd</a>"
                                       << "passwd";
    QTest::newRow("relative link dropped") << "<a href=\"../x.html\">x</a>"
                                           << "x";
    QTest::newRow("scripts and styles gone") << "<script>alert(1)</script><style>p{}</style>ok"
                                             << "ok";
    QTest::newRow("images gone") << "a<img src=\"/dev/zero\" alt=\"zero\">b<svg><image href=\"/x\"/></svg>c"
                                 << "abc";
    QTest::newRow("frames gone") << "<iframe src=\"/etc\">in</iframe><object data=\"/x\">o</object>t"
                                 << "t";
    QTest::newRow("text escaped") << "1 &lt; 2 &amp; <unknown-tag>3</unknown-tag>"
                                  << "1 &lt; 2 &amp; 3";
    QTest::newRow("no text") << "<img src=\"/x\"><p> </p>"
                             << "";
}

void UpdateUiTest::releaseNotesKeepTextAndWebLinksOnly()
{
    QFETCH(QString, notes);
    QFETCH(QString, html);
    QCOMPARE(ReleaseNotes::safeHtml(notes), html);
}

void UpdateUiTest::releaseNotesAreCutAndOpenOnlyWebLinks()
{
    // Deeply nested, and far beyond the limit: cut, and the nesting flattened.
    QString deep;
    for (int i = 0; i < 30000; ++i)
        deep += QStringLiteral("<div><b>");
    deep += QStringLiteral("bottom");
    const QString safe = ReleaseNotes::safeHtml(deep);
    QVERIFY(safe.count(QStringLiteral("<b>")) <= ReleaseNotes::kMaxDepth);
    QVERIFY(!safe.contains(QLatin1String("bottom"))); // past the tag limit
    QVERIFY(ReleaseNotes::safeHtml(QStringLiteral("<b><i>ok</i></b>").repeated(400))
                .contains(QLatin1String("ok")));
    QString longNotes = QStringLiteral("<p>start</p>") + QString(200 * 1024, QLatin1Char('x'));
    QVERIFY(ReleaseNotes::safeHtml(longNotes).remove(QChar(0x200B)).size() <= ReleaseNotes::kMaxLength);

    AppcastItem item;
    item.versionString = QStringLiteral("11");
    item.displayVersionString = QStringLiteral("1.11");
    item.itemDescription = longNotes;
    Rig rig;
    UpdaterViewModel model(configurationFor(rig));
    UpdateDialogs dialogs(&model);
    dialogs.showUpdateFound(item, [](UpdateUserDriver::Choice) {});
    auto *notes = child<QTextBrowser>(dialogs.updateFoundDialog(), "releaseNotes");
    // Cut at the limit; the endless word got places to break (zero-width spaces).
    QString shown = notes->toPlainText();
    QVERIFY(shown.contains(QChar(0x200B)));
    shown.remove(QChar(0x200B));
    QVERIFY(shown.size() <= ReleaseNotes::kMaxLength);
    QVERIFY(shown.startsWith(QLatin1String("start")));
    // A letter buried under thousands of marks keeps a few.
    const QString marks = ReleaseNotes::safeHtml(QStringLiteral("a") + QString(5000, QChar(0x0301)));
    QVERIFY(marks.startsWith(QLatin1Char('a')) && marks.size() < 20);

    QList<QUrl> opened;
    LinkOpener::setOpener([&opened](const QUrl &url) { opened << url; });
    Q_EMIT notes->anchorClicked(QUrl(QStringLiteral("file:///etc/passwd")));
    Q_EMIT notes->anchorClicked(QUrl(QStringLiteral("javascript:alert(1)")));
    Q_EMIT notes->anchorClicked(QUrl(QStringLiteral("https://bramble.example/notes")));
    LinkOpener::setOpener({});
    QCOMPARE(opened, QList<QUrl>({ QUrl(QStringLiteral("https://bramble.example/notes")) }));
    // The view itself follows nothing.
    QVERIFY(!notes->openLinks() && !notes->openExternalLinks());
}

void UpdateUiTest::tabSaysWhenThisBuildHasNoUpdates()
{
    Rig rig;
    UpdaterViewModelConfiguration c = configurationFor(rig);
    c.feedURL = QStringLiteral("https://updates.bramble.invalid/linux/");
    c.publicKey.clear();
    UpdaterViewModel model(c);
    UpdateSettingsView view(&model);
    view.show();
    QVERIFY(QTest::qWaitFor([&] { return model.updaterController() != nullptr; }, 10000));
    view.refresh();
    QVERIFY(visible(&view, "updatesNotConfiguredNotice"));
    QVERIFY(!visible(&view, "statusText"));
    QVERIFY(text(&view, "updatesNotConfiguredNotice").contains(QStringLiteral("软件包管理器")));
    QVERIFY(!child<QPushButton>(&view, "checkForUpdatesButton")->isEnabled());
    QVERIFY(!child<QCheckBox>(&view, "automaticChecksToggle")->isEnabled());
    QVERIFY(!visible(&view, "errorBox"));
    QCOMPARE(text(&view, "lastCheckValue"), QStringLiteral("Never"));

    // A build with a feed says nothing of the kind.
    Rig configured;
    UpdaterViewModel other(configurationFor(configured));
    UpdateSettingsView otherView(&other);
    otherView.show();
    QVERIFY(!visible(&otherView, "updatesNotConfiguredNotice"));
}

BRAMBLE_TEST_MAIN(UpdateUiTest)
#include "tst_update_ui.moc"

// A feed may name its version "<img src=…>": the tab and the dialog show those characters, never
// an image or a link.
void UpdateUiTest::feedTextsAreNeverMarkup()
{
    Rig rig;
    UpdaterViewModel model(configurationFor(rig));
    UpdateSettingsView view(&model);
    view.show();
    ConsoleCapture console;
    const AppcastItem item = foundItem(rig, QStringLiteral("<img src=\"/dev/zero\"><b>1.11</b>"), 1000);
    model.updaterDidFindValidUpdate(nullptr, item);
    auto *status = child<QLabel>(&view, "statusText");
    QCOMPARE(status->textFormat(), Qt::PlainText);
    QVERIFY(status->text().contains(item.displayVersionString));
    for (QLabel *label : view.findChildren<QLabel *>())
        QVERIFY2(label->textFormat() == Qt::PlainText, qPrintable(label->objectName()));

    UpdateDialogs dialogs(&model);
    dialogs.showUpdateFound(item, [](UpdateDialogs::Choice) {});
    QVERIFY(dialogs.updateFoundDialog());
    auto *summary = child<QLabel>(dialogs.updateFoundDialog(), "updateFoundSummary");
    QCOMPARE(summary->textFormat(), Qt::PlainText);
    QVERIFY(summary->text().contains(QStringLiteral("Bramble <img src=\"/dev/zero\"><b>1.11</b> is now")));
    console.lines();
}
