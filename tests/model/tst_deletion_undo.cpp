#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/BookmarkListModel.h"
#include "model/DeletionUndo.h"
#include "model/GroupListModel.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "support/TestEnvironment.h"

#include <QTemporaryDir>
#include <QtTest>

// Undo puts a deleted group or link back where it was shown, whatever positions it shared.
class DeletionUndoTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_counter = 0;

    std::unique_ptr<ModelContainer> open()
    {
        QString error;
        auto container = ModelContainer::open(
            m_dir.filePath(QStringLiteral("store-%1.sqlite").arg(++m_counter)), &error);
        if (!container)
            qWarning() << "open failed:" << error;
        return container;
    }

    // Groups and links as an import leaves them: one position for all.
    static QList<BookmarkGroup *> imported(ModelContext *context, qint64 position)
    {
        QList<BookmarkGroup *> groups;
        for (const QString &name : { QStringLiteral("甲"), QStringLiteral("乙"), QStringLiteral("丙") }) {
            auto *group = new BookmarkGroup(name);
            group->setSortOrder(position);
            for (int i = 0; i < 3; ++i) {
                auto *link = new BookmarkItem(
                    QStringLiteral("https://%1.example/%2").arg(groups.size()).arg(i), group);
                link->setTitle(name + QString::number(i));
                link->setSortOrder(position);
            }
            context->insert(group);
            groups << group;
        }
        return groups;
    }

    static QStringList shownGroups(const GroupListModel &model)
    {
        QStringList names;
        for (int row = 0; row < model.rowCount(); ++row)
            names << model.groupAt(row)->name();
        return names;
    }

    static QStringList shownLinks(const BookmarkListModel &model)
    {
        QStringList titles;
        for (int row = 0; row < model.rowCount(); ++row)
            titles << model.itemAt(row)->title().value_or(QString());
        return titles;
    }

private Q_SLOTS:
    void linkComesBackToItsPlaceAmongEqualPositions()
    {
        auto container = open();
        QVERIFY(container);
        ModelContext *context = container->mainContext();
        BookmarkGroup *group = imported(context, 1796815077).first();
        BookmarkListModel model(group);
        const QStringList before { QStringLiteral("甲0"), QStringLiteral("甲1"), QStringLiteral("甲2") };
        QTRY_COMPARE(shownLinks(model), before);
        for (int row : { 0, 1 }) {
            DeletionUndo::of(context)->deleteLink(model.itemAt(row));
            QTRY_COMPARE(model.rowCount(), 2);
            QVERIFY(DeletionUndo::of(context)->undo().link);
            QTRY_COMPARE(shownLinks(model), before);
            QCOMPARE(shownLinks(model), before);
        }
    }

    void groupComesBackToItsPlaceAmongEqualPositions()
    {
        auto container = open();
        QVERIFY(container);
        ModelContext *context = container->mainContext();
        imported(context, 0);
        GroupListModel model(context);
        const QStringList before { QStringLiteral("甲"), QStringLiteral("乙"), QStringLiteral("丙") };
        QTRY_COMPARE(shownGroups(model), before);
        DeletionUndo::of(context)->deleteGroup(model.groupAt(0));
        QTRY_COMPARE(model.rowCount(), 2);
        BookmarkGroup *back = DeletionUndo::of(context)->undo().group;
        QVERIFY(back);
        QTRY_COMPARE(shownGroups(model), before);
        QCOMPARE(back->bookmarks().size(), 3);
    }

    void distinctPositionsAreKeptAsTheyWere()
    {
        auto container = open();
        QVERIFY(container);
        ModelContext *context = container->mainContext();
        QList<BookmarkGroup *> groups = imported(context, 0);
        for (int i = 0; i < groups.size(); ++i)
            groups[i]->setSortOrder(10 * (i + 1));
        DeletionUndo::of(context)->deleteGroup(groups[1]);
        BookmarkGroup *back = DeletionUndo::of(context)->undo().group;
        QVERIFY(back);
        QCOMPARE(groups[0]->sortOrder(), 10);
        QCOMPARE(back->sortOrder(), 20);
        QCOMPARE(groups[2]->sortOrder(), 30);
    }
};

BRAMBLE_TEST_CORE_MAIN(DeletionUndoTest)
#include "tst_deletion_undo.moc"
