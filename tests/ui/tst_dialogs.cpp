#include "app/Localization.h"
#include "exchange/DataExchange.h"
#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "support/TestEnvironment.h"
#include "ui/Alerts.h"
#include "ui/EditLinkView.h"
#include "ui/OpenAllAlert.h"
#include "ui/SettingsView.h"
#include "ui/SettingsWindow.h"
#include "ui/TextFieldAlert.h"
#include "ui/UpdateSettingsView.h"
#include "update/UpdaterViewModel.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGlyphRun>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QRawFont>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextLayout>
#include <memory>

// The alerts and the settings window as a window manager shows them.
class DialogsTest : public QObject
{
    Q_OBJECT

private:
    // How many lines a label's text takes at the label's present width.
    static int lineCount(const QLabel *label)
    {
        const QRect used = label->fontMetrics().boundingRect(
            QRect(0, 0, label->contentsRect().width(), 10000), Qt::TextWordWrap, label->text());
        return qRound(qreal(used.height()) / label->fontMetrics().lineSpacing());
    }

private Q_SLOTS:
    void openAllMessageIsOneUnbrokenLine()
    {
        for (const int count : { 1, 500, 123456 }) {
            OpenAllAlert alert;
            alert.setCount(count);
            alert.show();
            QVERIFY(QTest::qWaitForWindowExposed(&alert));
            const QString message = QStringLiteral("这将同时打开 %1 个网页链接。").arg(count);
            QCOMPARE(alert.text(), message);
            auto *label = alert.findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
            QVERIFY(label);
            QVERIFY2(label->width() >= label->fontMetrics().horizontalAdvance(message),
                qPrintable(QStringLiteral("%1 < %2")
                               .arg(label->width())
                               .arg(label->fontMetrics().horizontalAdvance(message))));
            QCOMPARE(lineCount(label), 1);
            // The question is the window's title, and only there.
            QCOMPARE(alert.windowTitle(), QStringLiteral("确认打开全部?"));
            for (const QLabel *other : alert.findChildren<QLabel *>())
                QVERIFY(!other->text().contains(QStringLiteral("确认打开全部")));
        }
    }

    void plainAlertsKeepTheirSentencesWhole()
    {
        QWidget parent;
        const QString sentence = QStringLiteral("有 12 个链接没有打开：Bramble 只打开 http 和 https 网址。");
        QMessageBox *box
            = Alerts::show(nullptr, QMessageBox::Warning, QStringLiteral("无法打开链接"), sentence);
        QVERIFY(QTest::qWaitForWindowExposed(box));
        auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
        QCOMPARE(lineCount(label), 1);
        box->close();
    }

    void textFieldAlertSaysItsTitleOnce()
    {
        TextFieldAlert alert(QStringLiteral("新建分组"), QStringLiteral("分组名称"), QStringLiteral("创建"));
        alert.present();
        QVERIFY(QTest::qWaitForWindowExposed(&alert));
        QCOMPARE(alert.windowTitle(), QStringLiteral("新建分组"));
        for (const QLabel *label : alert.findChildren<QLabel *>())
            QVERIFY(label->text() != QStringLiteral("新建分组") || !label->isVisible());
        QCOMPARE(alert.field()->accessibleName(), QStringLiteral("新建分组"));
        alert.reject();
    }

    void editSheetSaysItsTitleOnce()
    {
        BookmarkGroup group(QStringLiteral("g"));
        auto *link = new BookmarkItem(QStringLiteral("https://a.example"), &group);
        EditLinkView sheet(link);
        sheet.present();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet));
        QCOMPARE(sheet.windowTitle(), QStringLiteral("编辑链接"));
        for (const QLabel *label : sheet.findChildren<QLabel *>())
            QVERIFY(label->text() != QStringLiteral("编辑链接"));
        sheet.reject();
    }

    void settingsWindowClosesWithKeysFitsAndSitsOverTheWindow()
    {
        QTemporaryDir dir;
        QString error;
        auto store = ModelContainer::open(dir.filePath(QStringLiteral("s.sqlite")), &error);
        QVERIFY2(store, qPrintable(error));
        DataExchange exchange(store->mainContext());
        UpdaterViewModelConfiguration configuration;
        configuration.feedURL = QStringLiteral("http://127.0.0.1:9/feed/");
        configuration.publicKey = QByteArray(32, 'k').toBase64();
        configuration.infoDictionary
            = { { QStringLiteral("CFBundleShortVersionString"), QStringLiteral("1.0") },
                  { QStringLiteral("CFBundleVersion"), QStringLiteral("1") } };
        configuration.settingsPath = dir.filePath(QStringLiteral("Bramble.conf"));
        configuration.firstCheckDelay = std::chrono::hours(1);
        UpdaterViewModel updater(configuration);

        QMainWindow anchor;
        anchor.setGeometry(200, 150, 900, 600);
        anchor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&anchor));

        for (const QKeySequence &keys :
            { QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W) }) {
            SettingsView settings(store->mainContext(), &exchange);
            settings.setUpdatesContent(new UpdateSettingsView(&updater));
            SettingsWindow::prepare(&settings, &anchor);
            settings.show();
            settings.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&settings));
            QTRY_VERIFY(settings.width() >= 320 && settings.height() >= 330);
            QCOMPARE(settings.minimumSize(), QSize(320, 330));
            // Placed over the main window.
            QTRY_VERIFY(anchor.frameGeometry().contains(settings.frameGeometry().center()));
            const auto text = [](const QRect &r) {
                return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
            };
            const QString where
                = text(settings.frameGeometry()) + QStringLiteral(" over ") + text(anchor.frameGeometry());
            QVERIFY2(
                (settings.frameGeometry().center() - anchor.frameGeometry().center()).manhattanLength() < 4,
                qPrintable(where));

            // Every tab fits: the updates page needs no scrolling.
            settings.tabs()->setCurrentIndex(1);
            auto *area = qobject_cast<QScrollArea *>(settings.tabs()->currentWidget());
            QVERIFY(area);
            QTRY_COMPARE(area->verticalScrollBar()->maximum(), 0);
            QVERIFY(area->widget()->height() >= area->widget()->minimumSizeHint().height());

            QTest::keySequence(&settings, keys);
            QVERIFY2(!settings.isVisible(), qPrintable(keys.toString()));
        }
    }

    // Runs last: it changes the application's translations.
    void chineseTextUsesTheSimplifiedDesignAndQtSpeaksChinese()
    {
        const QFont font = Localization::withChineseFallback(QApplication::font());
        QCOMPARE(font.families().last(), QStringLiteral("Noto Sans CJK SC"));
        // Characters whose Japanese and Chinese designs differ, and plain Latin text.
        QTextLayout layout(QStringLiteral("骨 直 link"), font);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        QStringList cjkFamilies;
        for (const QGlyphRun &run : layout.glyphRuns(0, 3))
            cjkFamilies << run.rawFont().familyName();
        QVERIFY(!cjkFamilies.isEmpty());
        for (const QString &family : cjkFamilies)
            QCOMPARE(family, QStringLiteral("Noto Sans CJK SC"));
        // Applied twice, the family is not listed twice.
        QCOMPARE(
            Localization::withChineseFallback(font).families().count(QStringLiteral("Noto Sans CJK SC")), 1);

        QVERIFY(Localization::loadQtTranslations(QCoreApplication::instance()));
        QDialogButtonBox box(QDialogButtonBox::Cancel | QDialogButtonBox::Save);
        QCOMPARE(box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
        QCOMPARE(box.button(QDialogButtonBox::Save)->text(), QStringLiteral("保存"));
    }
};

BRAMBLE_TEST_MAIN(DialogsTest)
#include "tst_dialogs.moc"
