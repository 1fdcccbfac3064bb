#pragma once

#include "exchange/BrowserProfiles.h"

#include <QDialog>
#include <QFutureWatcher>
#include <QList>

class QCheckBox;
class QLabel;
class QPushButton;
class QTreeWidget;

// "从浏览器导入…": lists the browsers' profiles found on this computer with the number of
// links each holds, and hands the chosen one to the import. Profiles are found and their
// bookmarks counted on a worker thread, so the window stays responsive meanwhile.
class BrowserImportDialog : public QDialog
{
    Q_OBJECT

public:
    explicit BrowserImportDialog(QWidget *parent = nullptr);
    ~BrowserImportDialog() override;

    // Looks for the profiles afresh; profilesFound() follows.
    void findProfiles();
    bool isSearching() const { return m_watcher.isRunning(); }
    const QList<BrowserProfile> &profiles() const { return m_profiles; }

    QTreeWidget *profileList() const { return m_list; }
    QLabel *statusText() const { return m_status; }
    QPushButton *importButton() const { return m_importButton; }
    QCheckBox *skipExistingSwitch() const { return m_skipExisting; }

    static QString linkCountText(int count);

Q_SIGNALS:
    void profilesFound(int count);
    // The user chose a profile: its bookmark file, and whether links already in the library go.
    void importChosen(const QString &bookmarksPath, bool skipExisting);

private:
    void showProfiles();
    void importSelected();

    QList<BrowserProfile> m_profiles;
    QFutureWatcher<QList<BrowserProfile>> m_watcher;
    QTreeWidget *m_list;
    QLabel *m_status;
    QCheckBox *m_skipExisting;
    QPushButton *m_importButton;
};
