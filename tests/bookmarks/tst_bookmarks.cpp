#include "metadata/MetadataFetcher.h"
#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/BookmarkListModel.h"
#include "model/LinkAdder.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "platform/AppSignals.h"
#include "support/TestEnvironment.h"
#include "support/TestHttpServer.h"
#include "support/TestImages.h"
#include "ui/BookmarkListView.h"
#include "ui/BookmarkRowView.h"
#include "ui/ContextMenu.h"
#include "ui/DropState.h"
#include "ui/EditLinkView.h"
#include "ui/InsertionIndicator.h"
#include "ui/LinkDropDelegate.h"
#include "ui/LinkOpener.h"
#include "ui/ShareMenu.h"
#include "ui/TextFieldAlert.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QCoroTask>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QUrlQuery>
#include <httplib.h>
#include <memory>

class BookmarksTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ModelContainer> m_container;
    std::unique_ptr<BookmarkListView> m_view;
    BookmarkGroup *m_group = nullptr;
    QStringList m_signals;
    QList<QUrl> m_opened;

    ModelContext *context() const { return m_container->mainContext(); }

    BookmarkItem *addLink(const QString &url, qint64 sortOrder, const QDateTime &createdAt = {})
    {
        auto *item = new BookmarkItem(url, m_group);
        item->setSortOrder(sortOrder);
        if (createdAt.isValid())
            item->setCreatedAt(createdAt);
        context()->insert(item);
        return item;
    }

    // Builds the pane for the group as the main window would, and shows it.
    void showView()
    {
        m_view = std::make_unique<BookmarkListView>(m_group, context());
        m_view->resize(640, 600);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
        m_view->model()->sortNow();
    }

    QStringList shownUrls() const
    {
        m_view->model()->sortNow();
        QStringList urls;
        for (const BookmarkItem *item : m_view->model()->items())
            urls << item->urlString();
        return urls;
    }

    QList<qint64> shownOrders() const
    {
        QList<qint64> orders;
        for (const BookmarkItem *item : m_view->model()->items())
            orders << item->sortOrder();
        return orders;
    }

    QAction *menuAction(QMenu *menu, const QString &text) const
    {
        for (QAction *action : menu->actions()) {
            if (action->text() == text)
                return action;
        }
        return nullptr;
    }

    void triggerMenu(BookmarkItem *item, const QString &text)
    {
        std::unique_ptr<ContextMenu> menu(m_view->createBookmarkMenu(item, nullptr));
        QAction *action = menuAction(menu.get(), text);
        QVERIFY2(action, qPrintable(text));
        action->trigger();
        m_view->model()->sortNow();
    }

    QPoint rowPoint(int row, int y) const
    {
        const QRect rect = m_view->listView()->visualRect(m_view->model()->index(row));
        return QPoint(rect.center().x(), rect.top() + y);
    }

    QMessageBox *cannotOpenAlert() const
    {
        return m_view->findChild<QMessageBox *>(QStringLiteral("cannotOpenAlert"));
    }

    QPoint rowCentre(int row) const { return rowPoint(row, BookmarkRowView::rowHeight / 2); }

    void moveMouse(const QPoint &position)
    {
        QWidget *viewport = m_view->listView()->viewport();
        QMouseEvent move(QEvent::MouseMove, position, viewport->mapToGlobal(position), Qt::NoButton,
            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &move);
    }

    // Drives a drag of the link at row from onto a point of the list, as the platform would.
    bool dragAndDrop(int from, const QPoint &to, bool startFromList = true)
    {
        QMimeData *data = nullptr;
        if (startFromList) {
            data = m_view->beginDrag(m_view->model()->itemAt(from));
        } else {
            data = new QMimeData;
            data->setText(QStringLiteral("https://elsewhere.example"));
        }
        QWidget *viewport = m_view->listView()->viewport();
        const Qt::DropActions actions = Qt::MoveAction | Qt::CopyAction;
        QDragEnterEvent enter(rowCentre(from), actions, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &enter);
        QDragMoveEvent move(to, actions, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &move);
        QDropEvent drop(to, actions, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &drop);
        const bool accepted = drop.isAccepted();
        delete data;
        m_view->model()->sortNow();
        return accepted;
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QString error;
        m_container = ModelContainer::open(m_dir->filePath(QStringLiteral("store.sqlite")), &error);
        QVERIFY2(m_container, qPrintable(error));
        m_group = new BookmarkGroup(QStringLiteral("工作"));
        context()->insert(m_group);
        m_signals.clear();
        m_opened.clear();
        AppSignals::setSender([this](const QString &name, const AppSignals::Parameters &parameters) {
            QVERIFY(parameters.isEmpty());
            m_signals << name;
        });
        LinkOpener::setOpener([this](const QUrl &url) { m_opened << url; });
    }

    void cleanup()
    {
        m_view.reset();
        AppSignals::setSender({});
        LinkOpener::setOpener({});
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_container.reset();
        m_dir.reset();
    }

    void webAddressesOnly_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("parses");
        QTest::addColumn<bool>("web");
        QTest::newRow("https") << "https://example.com/a?b=c" << true << true;
        QTest::newRow("capital scheme") << "HTTP://example.com" << true << true;
        QTest::newRow("file") << "file:///etc/passwd" << true << false;
        QTest::newRow("javascript") << "javascript:alert(1)" << true << false;
        QTest::newRow("custom handler") << "vscode://file/tmp/x" << true << false;
        QTest::newRow("no host") << "http:relative" << true << false;
        QTest::newRow("space") << "https:// example.com" << false << false;
        QTest::newRow("empty") << "" << false << false;
    }

    void webAddressesOnly()
    {
        QFETCH(QString, text);
        QFETCH(bool, parses);
        QFETCH(bool, web);
        QCOMPARE(LinkOpener::parse(text).has_value(), parses);
        QCOMPARE(LinkOpener::webAddress(text).has_value(), web);
        QCOMPARE(LinkOpener::openLink(text), web);
        QCOMPARE(m_opened.size(), web ? 1 : 0);
    }

    void showsLinksInManualOrderWithStableTies()
    {
        addLink(QStringLiteral("https://c.example"), 5);
        addLink(QStringLiteral("https://a.example"), 1);
        addLink(QStringLiteral("https://d.example"), 5);
        addLink(QStringLiteral("https://b.example"), 2);
        showView();
        QCOMPARE(shownUrls(),
            QStringList(
                { "https://a.example", "https://b.example", "https://c.example", "https://d.example" }));
        QCOMPARE(m_view->currentContent(), m_view->listView());
        QVERIFY(m_view->openAllAction()->isVisible());
        // Rows 60 high and 8 apart, with 8 above the first.
        QListView *list = m_view->listView();
        const QRect first = list->visualRect(m_view->model()->index(0));
        const QRect second = list->visualRect(m_view->model()->index(1));
        QCOMPARE(first.height(), 60);
        QCOMPARE(second.top() - first.bottom() - 1, 8);
        QCOMPARE(list->viewport()->mapTo(list, first.topLeft()).y() - list->frameWidth(), 8);
    }

    void emptyGroupShowsEmptyStateAndNoOpenAll()
    {
        showView();
        QCOMPARE(m_view->currentContent(), m_view->emptyStateView());
        QVERIFY(!m_view->openAllAction()->isVisible());
        QVERIFY(m_view->addLinkAction()->isVisible());
        QCOMPARE(m_view->addLinkAction()->text(), QStringLiteral("添加链接"));
        // The first link switches to the list and brings the open-all button.
        addLink(QStringLiteral("https://a.example"), 0);
        QCOMPARE(m_view->currentContent(), m_view->listView());
        QVERIFY(m_view->openAllAction()->isVisible());
    }

    void movesUpAndDown()
    {
        BookmarkItem *a = addLink(QStringLiteral("a"), 10);
        addLink(QStringLiteral("b"), 20);
        BookmarkItem *c = addLink(QStringLiteral("c"), 30);
        showView();
        triggerMenu(a, QStringLiteral("上移"));
        triggerMenu(c, QStringLiteral("下移"));
        QCOMPARE(shownUrls(), QStringList({ "a", "b", "c" }));
        QCOMPARE(shownOrders(), QList<qint64>({ 10, 20, 30 }));
        triggerMenu(c, QStringLiteral("上移"));
        QCOMPARE(shownUrls(), QStringList({ "a", "c", "b" }));
        QCOMPARE(shownOrders(), QList<qint64>({ 10, 20, 30 }));
        triggerMenu(a, QStringLiteral("下移"));
        QCOMPARE(shownUrls(), QStringList({ "c", "a", "b" }));
    }

    void movesWithEqualPositions()
    {
        // Equal positions come from imports; the moved link must really change places, and
        // no other link may jump.
        addLink(QStringLiteral("a"), 5);
        BookmarkItem *b = addLink(QStringLiteral("b"), 5);
        BookmarkItem *c = addLink(QStringLiteral("c"), 5);
        addLink(QStringLiteral("d"), 9);
        showView();
        triggerMenu(c, QStringLiteral("上移"));
        QCOMPARE(shownUrls(), QStringList({ "a", "c", "b", "d" }));
        triggerMenu(b, QStringLiteral("上移"));
        QCOMPARE(shownUrls(), QStringList({ "a", "b", "c", "d" }));

        m_view.reset();
        init();
        BookmarkItem *x = addLink(QStringLiteral("x"), 7);
        addLink(QStringLiteral("y"), 7);
        addLink(QStringLiteral("z"), 7);
        showView();
        triggerMenu(x, QStringLiteral("下移"));
        QCOMPARE(shownUrls(), QStringList({ "y", "x", "z" }));
    }

    void normalizesNewestFirstOnlyWhenAllZero()
    {
        const QDateTime base = QDateTime::currentDateTimeUtc();
        addLink(QStringLiteral("old"), 0, base.addSecs(-100));
        addLink(QStringLiteral("new"), 0, base);
        addLink(QStringLiteral("mid"), 0, base.addSecs(-50));
        QVERIFY(context()->save());
        showView();
        QCOMPARE(shownUrls(), QStringList({ "new", "mid", "old" }));
        QCOMPARE(shownOrders(), QList<qint64>({ 0, 1, 2 }));
        QVERIFY(!context()->hasChanges());

        m_view.reset();
        init();
        addLink(QStringLiteral("old"), 0, base.addSecs(-100));
        addLink(QStringLiteral("new"), 3, base);
        showView();
        QCOMPARE(shownOrders(), QList<qint64>({ 0, 3 }));
        QCOMPARE(shownUrls(), QStringList({ "old", "new" }));
    }

    void opensWebLinksThroughTheOpener()
    {
        BookmarkItem *web = addLink(QStringLiteral("https://one.example"), 0);
        BookmarkItem *local = addLink(QStringLiteral("file:///usr/bin/xterm"), 1);
        addLink(QStringLiteral("not an address"), 2);
        addLink(QStringLiteral("http://two.example"), 3);
        showView();

        // Double click: opens, no signal.
        QTest::mouseDClick(m_view->listView()->viewport(), Qt::LeftButton, Qt::NoModifier, rowCentre(0));
        QCOMPARE(m_opened, QList<QUrl>({ QUrl(QStringLiteral("https://one.example")) }));
        QVERIFY(m_signals.isEmpty());

        // The menu's open sends link_opened, but only when something was opened.
        triggerMenu(web, QStringLiteral("打开链接"));
        QCOMPARE(m_opened.size(), 2);
        QCOMPARE(m_signals, QStringList({ "link_opened" }));
        QVERIFY(!cannotOpenAlert());
        triggerMenu(local, QStringLiteral("打开链接"));
        QCOMPARE(m_opened.size(), 2);
        QCOMPARE(m_signals, QStringList({ "link_opened" }));

        // What is not opened is explained, in plain text.
        QPointer<QMessageBox> alert = cannotOpenAlert();
        QVERIFY(alert);
        QVERIFY(alert->isVisible());
        QVERIFY2(alert->text().contains(QStringLiteral("“file:”")), qPrintable(alert->text()));
        QCOMPARE(alert->informativeText(), QStringLiteral("file:///usr/bin/xterm"));
        QCOMPARE(alert->textFormat(), Qt::PlainText);
        alert->close();
        QTRY_VERIFY(!alert);
        QTest::mouseDClick(m_view->listView()->viewport(), Qt::LeftButton, Qt::NoModifier, rowCentre(2));
        QCOMPARE(m_opened.size(), 2);
        alert = cannotOpenAlert();
        QVERIFY(alert);
        QVERIFY2(alert->text().contains(QStringLiteral("https://")), qPrintable(alert->text()));
        alert->close();
    }

    void openAllAsksFirstAndSkipsWhatIsNotWeb()
    {
        addLink(QStringLiteral("https://b.example"), 9);
        addLink(QStringLiteral("javascript:alert(1)"), 1);
        addLink(QStringLiteral("https://a.example"), 0);
        addLink(QStringLiteral("::::"), 2);
        showView();
        m_view->openAllAction()->trigger();
        QVERIFY(m_view->showOpenAllAlert());
        QVERIFY(m_opened.isEmpty());
        QCOMPARE(m_view->openAllAlert()->text(), QStringLiteral("这将同时打开 4 个网页链接。"));
        QCOMPARE(m_view->openAllAlert()->windowTitle(), QStringLiteral("确认打开全部?"));
        // The title is not said twice.
        QVERIFY(m_view->openAllAlert()->informativeText().isEmpty());

        m_view->openAllAlert()->findChild<QPushButton *>(QStringLiteral("cancelButton"))->click();
        QVERIFY(!m_view->showOpenAllAlert());
        QVERIFY(m_opened.isEmpty());

        m_view->openAllAction()->trigger();
        m_view->openAllAlert()->findChild<QPushButton *>(QStringLiteral("openButton"))->click();
        QVERIFY(!m_view->showOpenAllAlert());
        // The order the list shows.
        QCOMPARE(m_opened,
            QList<QUrl>(
                { QUrl(QStringLiteral("https://a.example")), QUrl(QStringLiteral("https://b.example")) }));
        QVERIFY(m_signals.isEmpty());
        // One alert for the two that were skipped.
        QMessageBox *alert = cannotOpenAlert();
        QVERIFY(alert);
        QVERIFY2(alert->text().contains(QStringLiteral("2 个")), qPrintable(alert->text()));
        QVERIFY(alert->informativeText().contains(QStringLiteral("javascript:alert(1)：")));
        QVERIFY(alert->informativeText().contains(QStringLiteral("::::：")));
        QCOMPARE(m_view->findChildren<QMessageBox *>(QStringLiteral("cannotOpenAlert")).size(), 1);
    }

    void copiesExactlyTheStoredText()
    {
        BookmarkItem *item = addLink(QStringLiteral(" https://例子.example/a b?q=1&x=%20 "), 0);
        showView();
        QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
        triggerMenu(item, QStringLiteral("复制链接"));
        QCOMPARE(QGuiApplication::clipboard()->text(), item->urlString());
    }

    void contextMenuOrder()
    {
        BookmarkItem *item = addLink(QStringLiteral("https://a.example"), 0);
        showView();
        std::unique_ptr<ContextMenu> menu(m_view->createBookmarkMenu(item, nullptr));
        QStringList texts;
        for (QAction *action : menu->actions()) {
            texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
            // With no other group there is nowhere to move the link to.
            QCOMPARE(action->isEnabled(), action->text() != QStringLiteral("移动到分组"));
        }
        QCOMPARE(texts,
            QStringList({ "打开链接", "编辑链接", "复制链接", "刷新信息", "-", "上移", "下移", "移动到分组",
                "-", "删除" }));
        QVERIFY(ContextMenu::isDestructive(menu->actions().last()));
    }

    void deleteSendsItsSignalOnce()
    {
        addLink(QStringLiteral("a"), 0);
        BookmarkItem *b = addLink(QStringLiteral("b"), 1);
        showView();
        triggerMenu(b, QStringLiteral("删除"));
        QCOMPARE(m_signals, QStringList({ "link_deleted" }));
        QCOMPARE(shownUrls(), QStringList({ "a" }));
        QCOMPARE(m_group->bookmarks().size(), 1);
    }

    void addsNormalisedLinks_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored");
        // The fetch each addition starts is the test's own: no name here reaches a resolver.
        QTest::newRow("bare host") << "127.0.0.1:9"
                                   << "https://127.0.0.1:9";
        QTest::newRow("capital scheme") << "HTTP://127.0.0.1:9/"
                                        << "HTTP://127.0.0.1:9/";
        // Beginning with "http" is not a scheme.
        QTest::newRow("http prefix, no scheme") << "httpbin"
                                                << "https://httpbin";
        QTest::newRow("host and port") << "localhost:9/x"
                                       << "https://localhost:9/x";
    }

    void addsNormalisedLinks()
    {
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        QStringList fetched;
        LinkAdder::setFetchFunction([&fetched](QString urlString) -> QCoro::Task<LinkMetadata> {
            fetched << urlString;
            co_return LinkMetadata {};
        });
        const auto restore = qScopeGuard([] { LinkAdder::setFetchFunction(nullptr); });
        showView();
        m_view->addLinkAction()->trigger();
        QVERIFY(m_view->showAddLinkSheet());
        TextFieldAlert *alert = m_view->addLinkAlert();
        QCOMPARE(alert->field()->placeholderText(), QStringLiteral("例如: https://www.apple.com"));
        QVERIFY(!alert->actionButton()->isEnabled());
        QTest::keyClicks(alert->field(), typed);
        QVERIFY(alert->actionButton()->isEnabled());
        alert->actionButton()->click();
        QCOMPARE(m_group->bookmarks().size(), 1);
        BookmarkItem *item = m_group->bookmarks().first();
        QCOMPARE(item->urlString(), stored);
        QCOMPARE(item->title(), std::optional<QString>(stored));
        QCOMPARE(item->summary(), std::optional<QString>(QStringLiteral("正在获取信息...")));
        QCOMPARE(item->sortOrder(), 0);
        QVERIFY(!context()->hasChanges());
        QCOMPARE(m_signals, QStringList({ "link_added" }));
        QVERIFY(!m_view->showAddLinkSheet());
        QCOMPARE(m_view->newUrlString(), QString());
        QCOMPARE(shownUrls(), QStringList({ stored }));
        QCOMPARE(fetched, QStringList({ stored }));
    }

    void addAlertRefusesOtherSchemes()
    {
        showView();
        m_view->setShowAddLinkSheet(true);
        TextFieldAlert *alert = m_view->addLinkAlert();
        QTest::keyClicks(alert->field(), QStringLiteral("ftp://host/x"));
        QVERIFY(!alert->actionButton()->isEnabled());
        QVERIFY(alert->reasonLabel()->isVisible());
        QVERIFY(alert->reasonLabel()->text().contains(QStringLiteral("“ftp:”")));
        QCOMPARE(alert->reasonLabel()->textFormat(), Qt::PlainText);
        // Return on the disabled button does nothing.
        QTest::keyClick(alert->field(), Qt::Key_Return);
        QVERIFY(alert->isVisible());

        // Called directly, the addition is refused too and the alert stays with its reason.
        m_view->setNewUrlString(QStringLiteral("javascript:alert(1)"));
        QVERIFY(!m_view->addBookmark());
        QVERIFY(m_view->showAddLinkSheet());
        QVERIFY(alert->reasonLabel()->text().contains(QStringLiteral("“javascript:”")));
        QVERIFY(m_group->bookmarks().isEmpty());
        QVERIFY(m_signals.isEmpty());

        // Text that would never load as a page is refused with a short reason, whatever
        // "https://" in front would make of it.
        for (const QString &text : { QStringLiteral(" 127.0.0.1:9"), QStringLiteral(" "),
                 QStringLiteral("not a url"), QStringLiteral("https://"), QStringLiteral("http://a b/") }) {
            alert->field()->clear();
            QTest::keyClicks(alert->field(), text);
            QVERIFY2(!alert->actionButton()->isEnabled(), qPrintable(text));
            QVERIFY2(alert->reasonLabel()->isVisible(), qPrintable(text));
            QVERIFY(alert->reasonLabel()->text().size() < 40);
            m_view->setNewUrlString(text);
            QVERIFY(!m_view->addBookmark());
        }
        QVERIFY(m_group->bookmarks().isEmpty());

        // Corrected, it is accepted and the reason goes.
        alert->field()->clear();
        // A literal address: this addition's fetch is real, and a name could go to a resolver.
        QTest::keyClicks(alert->field(), QStringLiteral("127.0.0.1:9/ok"));
        QVERIFY(alert->actionButton()->isEnabled());
        QVERIFY(!alert->reasonLabel()->isVisible());
        alert->actionButton()->click();
        QCOMPARE(m_group->bookmarks().size(), 1);
        QCOMPARE(m_group->bookmarks().first()->urlString(), QStringLiteral("https://127.0.0.1:9/ok"));
    }

    void editSheetRefusesWhatIsNoWebAddress()
    {
        BookmarkItem *item = addLink(QStringLiteral("https://a.example"), 0);
        showView();
        m_view->setEditingBookmark(item);
        EditLinkView *sheet = m_view->editLinkView();
        sheet->urlField()->selectAll();
        QTest::keyClicks(sheet->urlField(), QStringLiteral("mailto:x@example.com"));
        // Nothing reaches the link while typing.
        QCOMPARE(item->urlString(), QStringLiteral("https://a.example"));
        QVERIFY(sheet->urlReasonLabel()->isVisible());
        QVERIFY(sheet->urlReasonLabel()->text().contains(QStringLiteral("“mailto:”")));
        QCOMPARE(sheet->urlReasonLabel()->textFormat(), Qt::PlainText);
        QVERIFY(!sheet->doneButton()->isEnabled());
        // Metadata arriving meanwhile does not put the stored address back under the cursor.
        item->setTitle(QStringLiteral("arrived"));
        QCOMPARE(sheet->urlField()->text(), QStringLiteral("mailto:x@example.com"));
        QCOMPARE(sheet->titleField()->text(), QStringLiteral("arrived"));
        // Return cannot close it with a refused address.
        QTest::keyClick(sheet->urlField(), Qt::Key_Return);
        QVERIFY(sheet->isVisible());
        QCOMPARE(item->urlString(), QStringLiteral("https://a.example"));

        for (const QString &text : { QStringLiteral("not a url"), QStringLiteral("https://"),
                 QStringLiteral("a b.example"), QString() }) {
            sheet->urlField()->selectAll();
            QTest::keyClick(sheet->urlField(), Qt::Key_Backspace);
            QTest::keyClicks(sheet->urlField(), text);
            QVERIFY2(sheet->urlReasonLabel()->isVisible(), qPrintable(text));
            QVERIFY2(!sheet->doneButton()->isEnabled(), qPrintable(text));
        }

        // A bare host name becomes an address once "https://" is in front.
        sheet->urlField()->selectAll();
        QTest::keyClicks(sheet->urlField(), QStringLiteral("b.example/x"));
        QVERIFY(!sheet->urlReasonLabel()->isVisible());
        QTest::keyClick(sheet->urlField(), Qt::Key_Return);
        QVERIFY(!m_view->editingBookmark());
        QCOMPARE(item->urlString(), QStringLiteral("https://b.example/x"));
    }

    void addedLinkGoesLastAndCancelClears()
    {
        addLink(QStringLiteral("https://a.example"), 7);
        addLink(QStringLiteral("https://b.example"), -3);
        showView();
        m_view->setShowAddLinkSheet(true);
        QTest::keyClicks(m_view->addLinkAlert()->field(), QStringLiteral("typed"));
        QCOMPARE(m_view->newUrlString(), QStringLiteral("typed"));
        m_view->addLinkAlert()->cancelButton()->click();
        QVERIFY(!m_view->showAddLinkSheet());
        QCOMPARE(m_view->newUrlString(), QString());
        m_view->setShowAddLinkSheet(true);
        QCOMPARE(m_view->addLinkAlert()->text(), QString());
        QCOMPARE(m_group->bookmarks().size(), 2);

        // Resolve at once: nothing listens on this port.
        m_view->setNewUrlString(QStringLiteral("http://127.0.0.1:9/"));
        BookmarkItem *added = m_view->addBookmark();
        QVERIFY(added);
        QCOMPARE(added->sortOrder(), 8);
        QCOMPARE(shownUrls().last(), QStringLiteral("http://127.0.0.1:9/"));
    }

    void editSheetSavesWithDoneOnly()
    {
        BookmarkItem *item = addLink(QStringLiteral("https://a.example"), 0);
        item->setTitle(QStringLiteral("Old"));
        showView();
        triggerMenu(item, QStringLiteral("编辑链接"));
        EditLinkView *sheet = m_view->editLinkView();
        QVERIFY(sheet);
        QCOMPARE(m_view->editingBookmark(), item);
        QCOMPARE(sheet->size(), QSize(400, 250));
        QCOMPARE(sheet->titleField()->text(), QStringLiteral("Old"));
        QCOMPARE(sheet->summaryField()->text(), QString());

        QTest::keyClicks(sheet->summaryField(), QStringLiteral("Sum"));
        QCOMPARE(item->summary(), std::nullopt);
        // Emptying the title stores empty text once saved.
        sheet->titleField()->selectAll();
        QTest::keyClick(sheet->titleField(), Qt::Key_Backspace);
        sheet->doneButton()->click();
        QVERIFY(!m_view->editingBookmark());
        QCOMPARE(item->title(), std::optional<QString>(QString()));
        QCOMPARE(item->summary(), std::optional<QString>(QStringLiteral("Sum")));
        QCOMPARE(BookmarkRowView::titleText(item), QString());

        // The empty title is still empty text, not absent, once saved and read back.
        QVERIFY(context()->save());
        const QString path = m_container->path();
        m_view.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_container.reset();
        QString error;
        m_container = ModelContainer::open(path, &error);
        QVERIFY2(m_container, qPrintable(error));
        QCOMPARE(context()->items().size(), 1);
        QCOMPARE(context()->items().first()->title(), std::optional<QString>(QString()));
        QCOMPARE(context()->items().first()->summary(), std::optional<QString>(QStringLiteral("Sum")));
    }

    void editSheetCancelAndEscapeDiscard()
    {
        BookmarkItem *item = addLink(QStringLiteral("https://a.example"), 0);
        item->setTitle(QStringLiteral("T"));
        item->setSummary(QStringLiteral("S"));
        showView();
        const auto typeEverywhere = [this] {
            EditLinkView *sheet = m_view->editLinkView();
            QTest::keyClicks(sheet->titleField(), QStringLiteral("x"));
            QTest::keyClicks(sheet->summaryField(), QStringLiteral("y"));
            sheet->urlField()->selectAll();
            QTest::keyClicks(sheet->urlField(), QStringLiteral("https://z.example"));
        };
        m_view->setEditingBookmark(item);
        typeEverywhere();
        m_view->editLinkView()->cancelButton()->click();
        QVERIFY(!m_view->editingBookmark());
        QCOMPARE(item->title(), std::optional<QString>(QStringLiteral("T")));
        QCOMPARE(item->summary(), std::optional<QString>(QStringLiteral("S")));
        QCOMPARE(item->urlString(), QStringLiteral("https://a.example"));

        m_view->setEditingBookmark(item);
        typeEverywhere();
        QTest::keyClick(m_view->editLinkView()->titleField(), Qt::Key_Escape);
        QVERIFY(!m_view->editingBookmark());
        QCOMPARE(item->title(), std::optional<QString>(QStringLiteral("T")));
        QCOMPARE(item->urlString(), QStringLiteral("https://a.example"));

        // Return saves; a field left alone takes the metadata that arrived meanwhile.
        m_view->setEditingBookmark(item);
        QTest::keyClicks(m_view->editLinkView()->titleField(), QStringLiteral("2"));
        item->setSummary(QStringLiteral("arrived"));
        QTest::keyClick(m_view->editLinkView()->titleField(), Qt::Key_Return);
        QVERIFY(!m_view->editingBookmark());
        QCOMPARE(item->title(), std::optional<QString>(QStringLiteral("T2")));
        QCOMPARE(item->summary(), std::optional<QString>(QStringLiteral("arrived")));

        // A link deleted while its sheet is open closes the sheet.
        m_view->setEditingBookmark(item);
        QPointer<EditLinkView> sheet = m_view->editLinkView();
        context()->remove(item);
        QVERIFY(!m_view->editingBookmark());
        QVERIFY(!sheet || !sheet->isVisible());
    }

    void rowTextsIconAndButtons()
    {
        BookmarkItem *item = addLink(QStringLiteral("https://a.example"), 0);
        QCOMPARE(BookmarkRowView::titleText(item), QStringLiteral("无标题"));
        QCOMPARE(BookmarkRowView::captionText(item), QStringLiteral("https://a.example"));
        item->setSummary(QString(0, QChar()));
        QCOMPARE(BookmarkRowView::captionText(item), QString());
        QVERIFY(BookmarkRowView::hasShareButton(item));
        BookmarkItem *broken = addLink(QStringLiteral("https:// broken"), 1);
        QVERIFY(!BookmarkRowView::hasShareButton(broken));

        showView();
        BookmarkRowView *row = m_view->rowView();
        QVERIFY(row->iconFor(item).isNull());
        item->setIconData(QByteArray("not an image"));
        QVERIFY(row->iconFor(item).isNull());
        item->setIconData(imageBytes());
        QVERIFY(!row->iconFor(item).isNull());

        // Painting both rows, the globe fallback included, must work offscreen.
        QImage canvas(m_view->listView()->viewport()->size(), QImage::Format_ARGB32);
        canvas.fill(Qt::white);
        m_view->listView()->viewport()->render(&canvas);

        // Hover follows the pointer; the buttons are only there while hovering.
        QWidget *viewport = m_view->listView()->viewport();
        moveMouse(rowCentre(1));
        QVERIFY(row->isHovering(broken));
        QVERIFY(!row->isHovering(item));
        const QRect itemRect = m_view->listView()->visualRect(m_view->model()->index(1));
        QCOMPARE(row->buttonAt(
                     itemRect, row->buttonRect(itemRect, BookmarkRowView::Button::share).center(), broken),
            BookmarkRowView::Button::none);
        QTRY_COMPARE(row->hoverProgress(broken), 1.0);

        // The edit button opens the sheet for its link.
        const QPoint edit = row->buttonRect(itemRect, BookmarkRowView::Button::edit).center();
        moveMouse(edit);
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, edit);
        QCOMPARE(m_view->editingBookmark(), broken);
        m_view->setEditingBookmark(nullptr);

        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(viewport, &leave);
        QVERIFY(!row->hoveredItem());
        QTRY_COMPARE(row->hoverProgress(broken), 0.0);
    }

    void shareMenuOffersCopyMailAndBrowser()
    {
        BookmarkItem *item = addLink(QStringLiteral("https://a.example/x?a=1&b=2"), 0);
        item->setTitle(QStringLiteral("A & B"));
        BookmarkItem *ftp = addLink(QStringLiteral("ftp://files.example/f"), 1);
        showView();
        std::unique_ptr<ShareMenu> menu(m_view->createShareMenu(item, nullptr));
        QVERIFY(menu);
        menu->copyAction()->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), item->urlString());
        menu->mailAction()->trigger();
        QCOMPARE(m_opened.size(), 1);
        const QUrl mail = m_opened.first();
        QCOMPARE(mail.scheme(), QStringLiteral("mailto"));
        const QUrlQuery query(mail);
        QCOMPARE(query.queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded), item->urlString());
        QCOMPARE(
            query.queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded), QStringLiteral("A & B"));
        QVERIFY(menu->browserAction());
        menu->browserAction()->trigger();
        QCOMPARE(m_opened.last(), QUrl(item->urlString()));

        std::unique_ptr<ShareMenu> ftpMenu(m_view->createShareMenu(ftp, nullptr));
        QVERIFY(ftpMenu);
        QVERIFY(!ftpMenu->browserAction());
    }

    void dropMovesByHalves()
    {
        // Time-based positions, renumbered by the drop.
        addLink(QStringLiteral("A"), 1700000000);
        addLink(QStringLiteral("B"), 1700000001);
        addLink(QStringLiteral("C"), 1700000005);
        addLink(QStringLiteral("D"), 1700000009);
        showView();
        // A into the lower half of C.
        QVERIFY(dragAndDrop(0, rowPoint(2, 45)));
        QCOMPARE(shownUrls(), QStringList({ "B", "C", "A", "D" }));
        QCOMPARE(shownOrders(), QList<qint64>({ 0, 1, 2, 3 }));
        QVERIFY(!context()->hasChanges());
        QVERIFY(!m_view->dropState()->draggedItem());
        QVERIFY(!m_view->dropState()->targetItem());

        // D into the upper half of C (row 1 now).
        QVERIFY(dragAndDrop(3, rowPoint(1, 10)));
        QCOMPARE(shownUrls(), QStringList({ "B", "D", "C", "A" }));
        QCOMPARE(m_view->dropState()->dropEdge(), Edge::top);

        // The exact middle is the lower half: B to just after D.
        QVERIFY(dragAndDrop(0, rowPoint(1, 30)));
        QCOMPARE(shownUrls(), QStringList({ "D", "B", "C", "A" }));
        QCOMPARE(m_view->dropState()->dropEdge(), Edge::bottom);
        QCOMPARE(shownOrders(), QList<qint64>({ 0, 1, 2, 3 }));
    }

    void refusedDrops()
    {
        addLink(QStringLiteral("A"), 10);
        addLink(QStringLiteral("B"), 20);
        addLink(QStringLiteral("C"), 30);
        showView();
        // Onto its own row: refused, nothing renumbered.
        QVERIFY(!dragAndDrop(1, rowPoint(1, 50)));
        QCOMPARE(shownOrders(), QList<qint64>({ 10, 20, 30 }));
        QVERIFY(!m_view->dropState()->targetItem());
        m_view->endDrag();

        // Text from another program: nothing dragged from the list, so false.
        QVERIFY(!dragAndDrop(0, rowPoint(2, 10), false));
        QCOMPARE(shownOrders(), QList<qint64>({ 10, 20, 30 }));

        // A drag that ended outside the list leaves nothing behind for a later foreign drop.
        QMimeData *data = m_view->beginDrag(m_view->model()->itemAt(0));
        delete data;
        m_view->endDrag();
        QVERIFY(!dragAndDrop(0, rowPoint(2, 10), false));
        QCOMPARE(shownUrls(), QStringList({ "A", "B", "C" }));

        // The first link onto the upper half of the second: same order, still renumbered.
        QVERIFY(dragAndDrop(0, rowPoint(1, 5)));
        QCOMPARE(shownUrls(), QStringList({ "A", "B", "C" }));
        QCOMPARE(shownOrders(), QList<qint64>({ 0, 1, 2 }));
    }

    void dropDelegateRules()
    {
        BookmarkItem *a = addLink(QStringLiteral("A"), 0);
        BookmarkItem *b = addLink(QStringLiteral("B"), 1);
        BookmarkItem *c = addLink(QStringLiteral("C"), 2);
        DropState state;
        LinkDropDelegate onB { b, m_group, context(), { a, b, c }, &state, 60 };
        QVERIFY(!onB.performDrop());

        state.setDraggedItem(b);
        onB.dropEntered();
        QVERIFY(!state.targetItem());
        QCOMPARE(onB.dropUpdated(QPointF(5, 40)), LinkDropDelegate::Proposal::cancel);

        LinkDropDelegate onC { c, m_group, context(), { a, b, c }, &state, 60 };
        onC.dropEntered();
        QCOMPARE(state.targetItem(), c);
        QCOMPARE(onC.dropUpdated(QPointF(5, 29.9)), LinkDropDelegate::Proposal::move);
        QCOMPARE(state.dropEdge(), Edge::top);
        QCOMPARE(onC.dropUpdated(QPointF(5, 30)), LinkDropDelegate::Proposal::move);
        QCOMPARE(state.dropEdge(), Edge::bottom);
        // Leaving a row that is no longer the target keeps the newer target.
        onB.dropExited();
        QCOMPARE(state.targetItem(), c);
        onC.dropExited();
        QVERIFY(!state.targetItem());
        // No target: to the end.
        QVERIFY(onC.performDrop());
        QCOMPARE(BookmarkListModel::ordered(m_group), QList<BookmarkItem *>({ a, c, b }));
        QCOMPARE(state.dropEdge(), Edge::bottom);

        // A dragged link that is not in the list is refused.
        BookmarkItem *other = addLink(QStringLiteral("other"), 9);
        state.setDraggedItem(other);
        QVERIFY(!onC.performDrop());
    }

    void insertionIndicatorSitsOnTheDropBoundary()
    {
        const QRectF row(10, 100, 300, 60);
        QVERIFY((InsertionIndicator { false, Edge::top }.markerRect(row, 8).isNull()));
        const QRectF top = InsertionIndicator { true, Edge::top }.markerRect(row, 8);
        const QRectF bottom = InsertionIndicator { true, Edge::bottom }.markerRect(row, 8);
        QCOMPARE(top.center().y(), 96.0);
        QCOMPARE(bottom.center().y(), 164.0);
        QCOMPARE(top.left(), 12.0);
        QCOMPARE(top.width(), 296.0);
        QImage image(400, 300, QImage::Format_ARGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        InsertionIndicator { true, Edge::bottom }.paint(&painter, row, 8);
        painter.end();
        QCOMPARE(image.pixelColor(200, 164), InsertionIndicator::color());
        QCOMPARE(image.pixelColor(200, 96), QColor(Qt::white));
    }

    void metadataArrivesAndSkipsDeletedLinks()
    {
        TestHttpServer server;
        server.server().Get("/page", [](const httplib::Request &, httplib::Response &response) {
            response.set_content("<html><head><title>Page Title</title>"
                                 "<meta name=\"description\" content=\"Page summary\"></head></html>",
                "text/html");
        });
        QVERIFY(server.start());
        MetadataFetcher::Options options;
        options.raceTimeout = std::chrono::milliseconds(2000);
        options.providerTimeout = std::chrono::milliseconds(2000);
        options.iconProbeTimeout = std::chrono::milliseconds(500);
        options.pageTimeout = std::chrono::milliseconds(2000);
        MetadataFetcher::setOptions(options);

        showView();
        m_view->setNewUrlString(server.url(QStringLiteral("/page?kept")));
        QPointer<BookmarkItem> kept = m_view->addBookmark();
        m_view->setNewUrlString(server.url(QStringLiteral("/page?deleted")));
        QPointer<BookmarkItem> deleted = m_view->addBookmark();
        QVERIFY(kept && deleted);
        // Deleted while its fetch runs; the list itself goes away too.
        m_view->deleteBookmark(deleted);
        m_view.reset();
        QTRY_COMPARE_WITH_TIMEOUT(kept->title(), std::optional<QString>(QStringLiteral("Page Title")), 15000);
        QCOMPARE(kept->summary(), std::optional<QString>(QStringLiteral("Page summary")));
        QVERIFY(!deleted);
        QVERIFY(context()->save());
        QCOMPARE(context()->itemCount(), 1);

        // The task reports its end; a deleted link's fetch ends without writing.
        auto *late = new BookmarkItem(server.url(QStringLiteral("/page?late")), m_group);
        context()->insert(late);
        late->setSummary(QStringLiteral("正在获取信息..."));
        QPointer<BookmarkItem> lateRef(late);
        QCoro::Task<> task = BookmarkListView::fetchMetadataForNewBookmark(lateRef, late->urlString());
        context()->remove(late);
        QCoro::waitFor(task);
        QVERIFY(context()->save());
        QVERIFY(!context()->hasChanges());
        QCOMPARE(context()->itemCount(), 1);
        MetadataFetcher::setOptions({});
    }
};

BRAMBLE_TEST_MAIN(BookmarksTest)
#include "tst_bookmarks.moc"
