#include "config/BrowseForFolder.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace vb;

class tst_BrowseForFolder : public QObject
{
    Q_OBJECT

    // What the picker looked like while it was open.
    struct Seen
    {
        bool found = false;
        QString title;
        QFileDialog::FileMode mode = QFileDialog::AnyFile;
        bool dirsOnly = false;
        Qt::WindowModality modality = Qt::NonModal;
        QWidget* parent = nullptr;
    };

    // Runs BrowseForFolder(owner) while a timer looks for the picker, notes its settings and then
    // chooses `folder` in it, or cancels it when `folder` is null.
    static QString Browse(QWidget* owner, const QString& folder, Seen& seen)
    {
        QTimer watch;
        watch.setInterval(10);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            auto* picker = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!picker || !picker->isVisible())
                return;
            watch.stop();
            seen.found = true;
            seen.title = picker->windowTitle();
            seen.mode = picker->fileMode();
            seen.dirsOnly = picker->testOption(QFileDialog::ShowDirsOnly);
            seen.modality = picker->windowModality();
            seen.parent = picker->parentWidget();
            if (folder.isNull()) {
                picker->reject();
            } else {
                picker->setDirectory(folder);
                static_cast<QDialog*>(picker)->accept(); // as its Open button does
            }
        });
        watch.start();
        return BrowseForFolder(owner);
    }

private slots:
    void folderAsChosen_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder");
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("root") << "/"
                              << "/";
        QTest::newRow("root doubled") << "//"
                                      << "/";
        QTest::newRow("folder") << "/home/alex/Pictures"
                                << "/home/alex/Pictures";
        QTest::newRow("trailing slash") << "/home/alex/Pictures/"
                                        << "/home/alex/Pictures";
        QTest::newRow("trailing slashes") << "/srv/photos//"
                                          << "/srv/photos";
        QTest::newRow("spaces and letters") << "/media/Fotos Sommer ä/"
                                            << "/media/Fotos Sommer ä";
        QTest::newRow("slash inside kept") << "/a//b"
                                           << "/a//b";
    }
    void folderAsChosen()
    {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QCOMPARE(FolderAsChosen(path), folder);
    }

    void chooses_data()
    {
        QTest::addColumn<QString>("choice"); // relative to a scratch folder; "/" is the root
        QTest::addColumn<QString>("result");
        QTest::newRow("cancelled") << QString() << "";
        QTest::newRow("root") << "/"
                              << "/";
        QTest::newRow("folder with a space") << "Holiday Pictures"
                                             << "Holiday Pictures";
    }
    void chooses()
    {
        QFETCH(QString, choice);
        QFETCH(QString, result);
        QTemporaryDir scratch;
        QVERIFY(QDir(scratch.path()).mkpath("Holiday Pictures"));
        const auto inScratch = [&](const QString& name) {
            return name.isEmpty() || name == "/" ? name : scratch.filePath(name);
        };
        QDialog owner;
        owner.show();

        Seen seen;
        const QString chosen = Browse(&owner, choice.isNull() ? QString() : inScratch(choice), seen);
        QVERIFY(seen.found);
        QCOMPARE(seen.title, QStringLiteral("Select Directory"));
        QCOMPARE(seen.mode, QFileDialog::Directory);
        QVERIFY(seen.dirsOnly);
        QCOMPARE(seen.modality, Qt::WindowModal);
        QCOMPARE(seen.parent, &owner);
        QCOMPARE(chosen, inScratch(result));
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }
};

QTEST_MAIN(tst_BrowseForFolder)
#include "tst_browseforfolder.moc"
