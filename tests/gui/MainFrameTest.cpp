#include "GuiTestSupport.h"

#include "core/document/KLTDoc.h"
#include "core/res/Strings.h"
#include "core/res/Version.h"
#include "gui/app/AboutDlg.h"
#include "gui/app/KLTApp.h"
#include "gui/app/MainFrame.h"
#include "gui/framework/MessageBox.h"
#include "gui/reception/MwaitDlg.h"
#include "gui/view/KLTView.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QStatusTipEvent>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QWindow>

#include <gtest/gtest.h>

namespace {

class MainFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        klt::MessageBoxSeam::Reset();
        ASSERT_TRUE(m_app.OnFileNew());
        m_frame = m_app.GetMainWnd();
    }
    void TearDown() override { klt::MessageBoxSeam::Reset(); }

    void WaitReady() {
        ASSERT_TRUE(WaitUntil([this] { return m_frame->GetState() == CMainFrame::STATE_READY; }));
    }

    static QStringList Texts(const QList<QAction*>& actions) {
        QStringList texts;
        for (const QAction* action : actions) {
            texts.append(action->isSeparator() ? QStringLiteral("|") : action->text());
        }
        return texts;
    }

    CKLTApp m_app;
    CMainFrame* m_frame = nullptr;
};

TEST_F(MainFrameTest, TheWindowStaysHiddenUntilTheControllerIsReady) {
    EXPECT_EQ(m_frame->GetState(), CMainFrame::STATE_STARTUP);
    EXPECT_FALSE(m_frame->isVisible());
    EXPECT_EQ(m_frame->GetFlags(), 0u);
    EXPECT_TRUE(m_frame->Timers().IsTimerSet(CMainFrame::TIMER_STARTUP));
    EXPECT_EQ(m_frame->Timers().TimerPeriod(CMainFrame::TIMER_STARTUP), 10);

    WaitReady();
    EXPECT_TRUE(m_frame->isVisible());
    EXPECT_TRUE(m_frame->Controller().IsShownOnce());
    EXPECT_FALSE(m_frame->Timers().IsTimerSet(CMainFrame::TIMER_STARTUP));
    EXPECT_EQ(m_frame->GetFlags(), CMainFrame::FLAG_VISIBLE | CMainFrame::FLAG_ENABLED);
    EXPECT_EQ(m_frame->size(), QSize(360, 480));
    EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("無題 - KLT"));
}

TEST_F(MainFrameTest, CommandsAreEnabledByTheControllersState) {
    const unsigned readyCommands[] = {res::ID_FILE_OPEN, res::ID_FILE_SAVE_AS, res::ID_FILE_PRINT,
                                      res::ID_RECEIVE_START, res::ID_PORT_SETTINGS};
    const auto expectEnabling = [this, &readyCommands](bool ready) {
        for (unsigned id : readyCommands) {
            EXPECT_EQ(m_frame->MenuAction(id)->isEnabled(), ready) << id;
            EXPECT_EQ(m_frame->ToolBarAction(id)->isEnabled(), ready) << id;
        }
        EXPECT_EQ(m_frame->MenuAction(res::ID_RECEIVE_STOP)->isEnabled(), !ready);
        EXPECT_EQ(m_frame->ToolBarAction(res::ID_RECEIVE_STOP)->isEnabled(), !ready);
        EXPECT_TRUE(m_frame->MenuAction(res::ID_APP_EXIT)->isEnabled());
        EXPECT_TRUE(m_frame->MenuAction(res::ID_APP_ABOUT)->isEnabled());
        EXPECT_TRUE(m_frame->ToolBarAction(res::ID_APP_ABOUT)->isEnabled());
    };

    expectEnabling(false); // STATE_STARTUP withholds everything but stop, exit and About
    WaitReady();
    expectEnabling(true);

    // A disabled command sent anyway is ignored: start in READY with no port shows 107, and
    // stop, disabled in READY, changes nothing.
    m_frame->OnCommand(res::ID_RECEIVE_STOP);
    EXPECT_EQ(m_frame->GetState(), CMainFrame::STATE_READY);
    klt::MessageBoxSeam::SetNextAnswer(klt::IDOK);
    m_frame->OnCommand(res::ID_RECEIVE_START);
    ASSERT_EQ(klt::MessageBoxSeam::Shown().size(), 1);
    EXPECT_EQ(klt::MessageBoxSeam::Shown()[0].text,
              QString::fromUtf8(res::LoadString(res::IDS_NO_PORT_CHOSEN)));
    EXPECT_EQ(klt::MessageBoxSeam::Shown()[0].icon, klt::MsgIcon::Stop);
    EXPECT_EQ(m_frame->GetState(), CMainFrame::STATE_READY);
}

TEST_F(MainFrameTest, StopInStartupMovesStraightToReady) {
    m_frame->OnCommand(res::ID_RECEIVE_STOP);
    EXPECT_EQ(m_frame->GetState(), CMainFrame::STATE_READY);
    EXPECT_TRUE(m_frame->isVisible());
    EXPECT_FALSE(m_frame->Timers().IsTimerSet(CMainFrame::TIMER_STARTUP)) << "left by LeaveStartup";
}

TEST_F(MainFrameTest, MenuHasTheItemsInOrder) {
    const QList<QAction*> popups = m_frame->menuBar()->actions();
    ASSERT_EQ(Texts(popups),
              (QStringList{"ファイル(&F)", "受信(&R)", "通信設定(&J)", "ヘルプ(&H)"}));
    EXPECT_EQ(Texts(popups[0]->menu()->actions()),
              (QStringList{"操作履歴を開く(&O)", "操作履歴を名前を付けて保存(&A)", "|",
                           "操作履歴の印刷(&P)", "|", "アプリケーションの終了(&X)"}));
    EXPECT_EQ(Texts(popups[1]->menu()->actions()),
              (QStringList{"操作履歴の受信開始(&S)", "操作履歴の受信停止(&E)"}));
    EXPECT_EQ(Texts(popups[2]->menu()->actions()), (QStringList{"通信ポートの設定(&S)"}));
    EXPECT_EQ(Texts(popups[3]->menu()->actions()), (QStringList{"バージョン情報 KLT(&A)..."}));
}

TEST_F(MainFrameTest, ToolBarStandsOnTheRightWithLabelledButtonsOfOneSize) {
    QToolBar* toolBar = m_frame->ToolBar();
    EXPECT_EQ(m_frame->toolBarArea(toolBar), Qt::RightToolBarArea);
    EXPECT_EQ(toolBar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    EXPECT_EQ(toolBar->iconSize(), QSize(16, 16));
    EXPECT_EQ(Texts(toolBar->actions()),
              (QStringList{"開く", "保存", "印刷", "|", "受信開始", "受信停止", "|", "通信設定",
                           "|", "バージョン"}));
    WaitReady();
    QSize buttonSize;
    for (QAction* action : toolBar->actions()) {
        if (action->isSeparator()) {
            continue;
        }
        EXPECT_FALSE(action->icon().isNull()) << action->text().toStdString();
        const QImage image = action->icon().pixmap(16, 16).toImage();
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << "magenta is transparent";
        const QSize size = toolBar->widgetForAction(action)->size();
        if (buttonSize.isValid()) {
            EXPECT_EQ(size, buttonSize);
        }
        buttonSize = size;
    }
    m_frame->resize(500, 300);
    Flush();
    EXPECT_EQ(toolBar->widgetForAction(toolBar->actions().constFirst())->size(), buttonSize);

    // Like a docking bar, the user may drag it to another edge or float it.
    EXPECT_TRUE(toolBar->isMovable());
    EXPECT_TRUE(toolBar->isFloatable());
    EXPECT_EQ(toolBar->allowedAreas(), Qt::AllToolBarAreas);
}

TEST_F(MainFrameTest, StatusBarShowsPromptsAndOtherwiseReady) {
    const QString idle = QStringLiteral("レディ");
    EXPECT_EQ(m_frame->GetPaneText(0), idle);
    EXPECT_EQ(m_frame->GetPaneText(1), QString());

    // A highlighted menu item shows its prompt; exit's tooltip part is not shown there.
    m_frame->MenuAction(res::ID_APP_EXIT)->showStatusText(m_frame->menuBar());
    EXPECT_EQ(m_frame->GetPaneText(0),
              QStringLiteral("アプリケーションを終了し、操作履歴の保存を指示"));
    QStatusTipEvent nothing{QString()};
    QCoreApplication::sendEvent(m_frame->menuBar(), &nothing);
    EXPECT_EQ(m_frame->GetPaneText(0), idle);

    // The pointer resting on a button does the same.
    QWidget* button =
        m_frame->ToolBar()->widgetForAction(m_frame->ToolBarAction(res::ID_FILE_OPEN));
    QEvent enter(QEvent::Enter);
    QCoreApplication::sendEvent(button, &enter);
    EXPECT_EQ(m_frame->GetPaneText(0), QStringLiteral("操作履歴を開く"));

    m_frame->SetPaneText(1, QStringLiteral("COM3"));
    EXPECT_EQ(m_frame->GetPaneText(1), QStringLiteral("COM3"));
}

TEST_F(MainFrameTest, DroppedFilesOpenOnlyWhileCommandsAreEnabled) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dropped.txt"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("one\r\ntwo\r\n");
    file.close();

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    const auto drop = [&] {
        QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QCoreApplication::sendEvent(m_frame, &enter);
        QDropEvent dropped(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_frame, &dropped);
        Flush();
        return enter.isAccepted();
    };

    EXPECT_FALSE(m_frame->acceptDrops());
    EXPECT_FALSE(drop()) << "refused in STATE_STARTUP";
    EXPECT_EQ(m_frame->GetActiveDocument()->GetLineCount(), 0u);

    WaitReady();
    EXPECT_TRUE(m_frame->acceptDrops());
    EXPECT_TRUE(drop());
    EXPECT_EQ(m_frame->GetActiveDocument()->GetLineCount(), 2u);
    EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("dropped.txt - KLT"));
}

TEST_F(MainFrameTest, BoxesAndDialogsBelongToTheMainWindowWhileAnotherProgramHasTheFocus) {
    WaitReady();
    QWidget otherProgram; // stands in for whatever the user works in meanwhile
    otherProgram.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&otherProgram));
    otherProgram.activateWindow();
    ASSERT_TRUE(WaitUntil([&] { return QApplication::activeWindow() == &otherProgram; }));

    // What is up in the app's modal loop: its parent and the window it is transient for.
    struct Owners {
        QWidget* parent = nullptr;
        QWindow* transientParent = nullptr;
    };
    const auto ownersOfModal = [](Owners& owners, const std::function<void(QWidget*)>& end) {
        QTimer::singleShot(0, [&owners, end] {
            QWidget* modal = QApplication::activeModalWidget();
            ASSERT_NE(modal, nullptr);
            owners.parent = modal->parentWidget();
            owners.transientParent = modal->windowHandle()->transientParent();
            end(modal);
        });
    };

    Owners box;
    ownersOfModal(box, [](QWidget* modal) { qobject_cast<QMessageBox*>(modal)->accept(); });
    klt::AfxMessageBox(res::IDS_RECEIVE_FINISHED, klt::MsgIcon::Information);
    EXPECT_EQ(box.parent, m_frame) << "message box";
    EXPECT_EQ(box.transientParent, m_frame->windowHandle());

    // The wait dialog is made without a parent, as a member of the window.
    CMwaitDlg wait;
    Owners waitOwners;
    int answeredOverWait = 0;
    ownersOfModal(waitOwners, [&](QWidget*) {
        // A box shown over the wait dialog belongs to it, and through it to the window.
        klt::MessageBoxSeam::SetNextAnswer(klt::IDOK);
        klt::AfxMessageBox(res::IDS_RECEIVE_TIMEOUT, klt::MsgIcon::Exclamation);
        answeredOverWait = klt::MessageBoxSeam::Shown().size();
        EXPECT_EQ(klt::MessageBoxSeam::Shown().back().owner, &wait);
        wait.EndDialog(0);
    });
    wait.DoModal();
    EXPECT_EQ(waitOwners.parent, m_frame) << "wait dialog";
    EXPECT_EQ(waitOwners.transientParent, m_frame->windowHandle());
    EXPECT_EQ(wait.parentWidget(), nullptr) << "owned only while it runs";
    EXPECT_EQ(answeredOverWait, 2);

    Owners about;
    ownersOfModal(about, [](QWidget* modal) { qobject_cast<QDialog*>(modal)->done(0); });
    m_frame->OnCommand(res::ID_APP_ABOUT);
    EXPECT_EQ(about.parent, m_frame) << "About box";
    EXPECT_EQ(about.transientParent, m_frame->windowHandle());
}

TEST_F(MainFrameTest, DataHandedOverInReadyIsDropped) {
    WaitReady();
    m_frame->Controller().OnRxData("late chunk\r\n");
    Flush();
    EXPECT_EQ(m_frame->GetActiveDocument()->GetLineCount(), 0u);
    EXPECT_FALSE(m_frame->GetActiveDocument()->IsModified());
}

TEST(WindowTimers, FireRepeatedlyUntilKilled) {
    std::vector<unsigned> fired;
    CWindowTimers timers([&fired](unsigned id) { fired.push_back(id); });

    timers.SetTimer(4, 5);
    EXPECT_EQ(timers.TimerPeriod(4), 5);
    ASSERT_TRUE(WaitUntil([&fired] { return fired.size() >= 3; }));
    EXPECT_TRUE(std::all_of(fired.begin(), fired.end(), [](unsigned id) { return id == 4; }));

    timers.KillTimer(4);
    fired.clear();
    QTest::qWait(30);
    EXPECT_TRUE(fired.empty());
}

TEST(Translation, StandardButtonsReadInJapanese) {
    CKLTApp app;
    ASSERT_TRUE(app.InstallQtTranslation());
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), QStringLiteral("はい(&Y)"));
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"),
              QStringLiteral("キャンセル"));
}

TEST(AboutBox, ShowsTheNameVersionAndNotice) {
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), QStringLiteral("バージョン情報 KLT"));
    const QLabel* version = about.findChild<QLabel*>(QStringLiteral("version"));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->text(), QStringLiteral("KLT, Version " KLT_VERSION));
    const QLabel* notice = about.findChild<QLabel*>(QStringLiteral("notice"));
    ASSERT_NE(notice, nullptr);
    EXPECT_FALSE(notice->text().isEmpty());
}

} // namespace
