// The bookmark list at 10,000 links in one group: showing it, painting a screenful of rows,
// and a drop that renumbers every link and saves.
#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/BookmarkListModel.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "support/BenchTable.h"
#include "ui/BookmarkListView.h"
#include "ui/BookmarkRowView.h"

#include <QApplication>
#include <QBuffer>
#include <QDragEnterEvent>
#include <QImage>
#include <QMimeData>
#include <QTemporaryDir>
#include <memory>

using Clock = std::chrono::steady_clock;

namespace {

constexpr int linkCount = 10000;

QByteArray iconBytes(int seed)
{
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(QColor::fromHsv(seed % 360, 200, 220));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// Drags the link at row from onto the lower half of the row at row to, as the platform would.
bool drop(BookmarkListView *view, int from, int to)
{
    QListView *list = view->listView();
    QMimeData *data = view->beginDrag(view->model()->itemAt(from));
    const QRect fromRect = list->visualRect(view->model()->index(from));
    const QRect toRect = list->visualRect(view->model()->index(to));
    const QPoint target(toRect.center().x(), toRect.top() + toRect.height() * 3 / 4);
    const Qt::DropActions actions = Qt::MoveAction;
    QDragEnterEvent enter(fromRect.center(), actions, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &enter);
    QDragMoveEvent move(target, actions, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &move);
    QDropEvent dropEvent(target, actions, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &dropEvent);
    delete data;
    return dropEvent.isAccepted();
}

// Paints the list's rows as a frame would, into an image the size of the viewport.
void paintViewport(BookmarkListView *view)
{
    QWidget *viewport = view->listView()->viewport();
    static QImage frame;
    if (frame.size() != viewport->size())
        frame = QImage(viewport->size(), QImage::Format_ARGB32_Premultiplied);
    frame.fill(Qt::transparent);
    viewport->render(&frame);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QString error;
    auto container = ModelContainer::open(dir.filePath(QStringLiteral("bench.sqlite")), &error);
    if (!container) {
        std::fprintf(stderr, "cannot open store: %s\n", qPrintable(error));
        return 1;
    }
    ModelContext *context = container->mainContext();
    auto *group = new BookmarkGroup(QStringLiteral("Big group"));
    context->insert(group);
    QList<QByteArray> icons;
    for (int i = 0; i < 16; ++i)
        icons << iconBytes(i * 23);
    const qint64 base = QDateTime::currentSecsSinceEpoch();
    for (int i = 0; i < linkCount; ++i) {
        auto *item
            = new BookmarkItem(QStringLiteral("https://site%1.example/page/%2").arg(i % 97).arg(i), group);
        item->setTitle(QStringLiteral("Page %1 — a title of ordinary length").arg(i));
        item->setSummary(QStringLiteral("A one-line summary of page %1 that is about this long.").arg(i));
        if (i % 4 != 3)
            item->setIconData(icons.at(i % icons.size()));
        item->setSortOrder(base + i);
    }
    context->save();
    Bench::Table table;

    // Reopen, so icons are read from disk lazily as a real start would.
    const QString path = container->path();
    container.reset();
    container = ModelContainer::open(path, &error);
    context = container->mainContext();
    group = context->groups().first();

    std::vector<double> shows;
    std::unique_ptr<BookmarkListView> view;
    for (int run = 0; run < 5; ++run) {
        view.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const auto start = Clock::now();
        view = std::make_unique<BookmarkListView>(group, context);
        view->resize(900, 760);
        view->show();
        QCoreApplication::processEvents();
        // The first paint, icons of the visible rows decoded.
        paintViewport(view.get());
        shows.push_back(Bench::msSince(start));
    }
    table.add(QStringLiteral("show a group of 10,000 links (build, show, first paint)"),
        Bench::ms(Bench::median(shows)), QStringLiteral("< 100 ms"));

    QWidget *viewport = view->listView()->viewport();
    const int visible = viewport->height() / (BookmarkRowView::rowHeight + BookmarkRowView::rowSpacing) + 1;
    std::vector<double> paints;
    for (int run = 0; run < 50; ++run) {
        const auto start = Clock::now();
        paintViewport(view.get());
        paints.push_back(Bench::msSince(start));
    }
    table.add(QStringLiteral("paint a full viewport (%1 rows, %2 x %3)")
                  .arg(visible)
                  .arg(viewport->width())
                  .arg(viewport->height()),
        Bench::ms(Bench::median(paints)), QStringLiteral("< 16 ms"));

    // Scrolling far brings rows whose icons were never decoded.
    std::vector<double> scrolled;
    for (int run = 0; run < 10; ++run) {
        view->listView()->scrollTo(view->model()->index(1000 + run * 800), QAbstractItemView::PositionAtTop);
        const auto start = Clock::now();
        paintViewport(view.get());
        scrolled.push_back(Bench::msSince(start));
    }
    table.add(QStringLiteral("paint a viewport of rows not painted before (icons decoded)"),
        Bench::ms(Bench::median(scrolled)), QStringLiteral("< 16 ms"));
    view->listView()->scrollToTop();
    QCoreApplication::processEvents();

    std::vector<double> drops;
    for (int run = 0; run < 5; ++run) {
        // Time-based positions again, as links added one by one have: the drop must rewrite all.
        const QList<BookmarkItem *> shown = view->model()->items();
        for (qsizetype i = 0; i < shown.size(); ++i)
            shown.at(i)->setSortOrder(base + 2 * i);
        context->save();
        view->model()->sortNow();
        QCoreApplication::processEvents();
        const auto start = Clock::now();
        const bool handled = drop(view.get(), 0, 3);
        view->model()->sortNow();
        drops.push_back(Bench::msSince(start));
        if (!handled || context->hasChanges()) {
            std::fprintf(stderr, "drop was not handled and saved\n");
            return 1;
        }
        QCoreApplication::processEvents();
    }
    table.add(QStringLiteral("drop renumbering 10,000 links, saved and re-sorted"),
        Bench::ms(Bench::median(drops)), QStringLiteral("< 50 ms"));
    table.add(QStringLiteral("resident memory"),
        QString::number(Bench::residentMiB(), 'f', 1) + QStringLiteral(" MiB"));
    table.print();
    return 0;
}
