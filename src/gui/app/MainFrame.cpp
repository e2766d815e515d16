#include "gui/app/MainFrame.h"

#include "core/document/KLTDoc.h"
#include "core/res/Strings.h"
#include "gui/app/DocTemplate.h"
#include "gui/app/KLTApp.h"
#include "gui/framework/PostedMessage.h"
#include "gui/view/KLTView.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <cstring>

namespace {

constexpr int FRAME_WIDTH = 360;
constexpr int FRAME_HEIGHT = 480;
constexpr int IMAGE_SIZE = 16;
constexpr int STATUS_PANE1_WIDTH = 50;
constexpr unsigned SEPARATOR = 0;

struct MenuItem {
    unsigned id; // SEPARATOR for a separator
    const char* text;
};

struct Popup {
    const char* text;
    std::initializer_list<MenuItem> items;
};

const Popup MENU_128[] = {
    {"ファイル(&F)",
     {{res::ID_FILE_OPEN, "操作履歴を開く(&O)"},
      {res::ID_FILE_SAVE_AS, "操作履歴を名前を付けて保存(&A)"},
      {SEPARATOR, nullptr},
      {res::ID_FILE_PRINT, "操作履歴の印刷(&P)"},
      {SEPARATOR, nullptr},
      {res::ID_APP_EXIT, "アプリケーションの終了(&X)"}}},
    {"受信(&R)",
     {{res::ID_RECEIVE_START, "操作履歴の受信開始(&S)"},
      {res::ID_RECEIVE_STOP, "操作履歴の受信停止(&E)"}}},
    {"通信設定(&J)", {{res::ID_PORT_SETTINGS, "通信ポートの設定(&S)"}}},
    {"ヘルプ(&H)", {{res::ID_APP_ABOUT, "バージョン情報 KLT(&A)..."}}},
};

// Toolbar 128: the buttons with their texts and their image in bitmap 310.
struct ToolBarItem {
    unsigned id; // SEPARATOR for a separator
    const char* text;
    int image;
};

const ToolBarItem TOOLBAR_128[] = {
    {res::ID_FILE_OPEN, "開く", 0},
    {res::ID_FILE_SAVE_AS, "保存", 1},
    {res::ID_FILE_PRINT, "印刷", 2},
    {SEPARATOR, nullptr, -1},
    {res::ID_RECEIVE_START, "受信開始", 3},
    {res::ID_RECEIVE_STOP, "受信停止", 4},
    {SEPARATOR, nullptr, -1},
    {res::ID_PORT_SETTINGS, "通信設定", 5},
    {SEPARATOR, nullptr, -1},
    {res::ID_APP_ABOUT, "バージョン", 6},
};

// A command's string: the status-bar prompt, then after "\n" the tooltip, if any.
QString PromptOf(unsigned id) {
    return QString::fromUtf8(res::LoadString(id)).section(QLatin1Char('\n'), 0, 0);
}

QString ToolTipOf(unsigned id) {
    return QString::fromUtf8(res::LoadString(id)).section(QLatin1Char('\n'), 1, 1);
}

// Bitmap 310: seven 16 x 16 images side by side, magenta where they are transparent.
QVector<QIcon> LoadToolBarImages() {
    QImage strip(QStringLiteral(":/res/toolbar310.png"));
    QVector<QIcon> icons;
    if (strip.isNull()) {
        return icons;
    }
    strip = strip.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < strip.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(strip.scanLine(y));
        for (int x = 0; x < strip.width(); ++x) {
            if ((row[x] & 0xFFFFFF) == 0xFF00FF) {
                row[x] = qRgba(0, 0, 0, 0);
            }
        }
    }
    for (int x = 0; x + IMAGE_SIZE <= strip.width(); x += IMAGE_SIZE) {
        icons.append(QIcon(QPixmap::fromImage(strip.copy(x, 0, IMAGE_SIZE, IMAGE_SIZE))));
    }
    return icons;
}

} // namespace

CMainFrame::CMainFrame(CMySingleDocTemplate& docTemplate, CKLTDoc& document,
                       CReceptionController::Timings timings,
                       CReceptionController::ThreadStarter startThread)
    : QMainWindow(nullptr), m_docTemplate(docTemplate), m_pDocument(&document),
      m_timers([this](unsigned id) { OnTimer(id); }),
      m_controller(*this, *this, timings, std::move(startThread)) {
    setWindowIcon(QIcon(QStringLiteral(":/res/klt128.png")));

    m_pView = new CKLTView(this);
    m_pView->SetDocument(m_pDocument);
    setCentralWidget(m_pView);

    CreateStatusBar();
    CreateToolBar();
    CreateMenu();

    resize(FRAME_WIDTH, FRAME_HEIGHT);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(FRAME_WIDTH / 2, FRAME_HEIGHT / 2));
    }

    m_waitDlg.setObjectName(QStringLiteral("waitDialog"));

    // The reception controller starts out in STATE_STARTUP, hidden, with commands withheld.
    m_controller.Start();
    OnUpdateFrameTitle();
}

CMainFrame::~CMainFrame() {
    m_controller.Shutdown();
}

void CMainFrame::CreateMenu() {
    for (const Popup& popup : MENU_128) {
        QMenu* menu = menuBar()->addMenu(QString::fromUtf8(popup.text));
        for (const MenuItem& item : popup.items) {
            if (item.id == SEPARATOR) {
                menu->addSeparator();
                continue;
            }
            QAction* action = menu->addAction(QString::fromUtf8(item.text));
            action->setMenuRole(QAction::NoRole);
            action->setStatusTip(PromptOf(item.id));
            const unsigned id = item.id;
            connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
            m_menuActions[id] = action;
        }
    }
    m_menuActions[res::ID_RECEIVE_STOP]->setEnabled(false);
    UpdateCommandUI();
}

void CMainFrame::CreateToolBar() {
    m_pToolBar = new QToolBar(this);
    m_pToolBar->setObjectName(QStringLiteral("toolbar128"));
    m_pToolBar->setMovable(true);
    m_pToolBar->setContextMenuPolicy(Qt::PreventContextMenu);
    m_pToolBar->setFloatable(true);
    m_pToolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_pToolBar->setIconSize(QSize(IMAGE_SIZE, IMAGE_SIZE));
    m_pToolBar->toggleViewAction()->setEnabled(false);
    addToolBar(Qt::RightToolBarArea, m_pToolBar);

    const QVector<QIcon> images = LoadToolBarImages();
    for (const ToolBarItem& item : TOOLBAR_128) {
        if (item.id == SEPARATOR) {
            m_pToolBar->addSeparator();
            continue;
        }
        QAction* action = m_pToolBar->addAction(QString::fromUtf8(item.text));
        if (item.image < images.size()) {
            action->setIcon(images.at(item.image));
        }
        action->setStatusTip(PromptOf(item.id));
        action->setToolTip(ToolTipOf(item.id));
        const unsigned id = item.id;
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
        m_toolBarActions[id] = action;
        if (QWidget* button = m_pToolBar->widgetForAction(action)) {
            button->installEventFilter(this);
        }
    }
    RecalcLayout();
}

void CMainFrame::RecalcLayout() {
    // Every button takes the size of the widest labelled one and keeps it on resize.
    QSize buttonSize;
    for (const auto& [id, action] : m_toolBarActions) {
        if (QWidget* button = m_pToolBar->widgetForAction(action)) {
            buttonSize = buttonSize.expandedTo(button->sizeHint());
        }
    }
    for (const auto& [id, action] : m_toolBarActions) {
        if (QWidget* button = m_pToolBar->widgetForAction(action)) {
            button->setFixedSize(buttonSize);
        }
    }
}

void CMainFrame::CreateStatusBar() {
    m_pPane0 = new QLabel(QString::fromUtf8(res::LoadString(res::AFX_IDS_IDLEMESSAGE)), this);
    m_pPane0->setMinimumWidth(1);
    statusBar()->addWidget(m_pPane0, 1);
    m_pPane1 = new QLabel(this);
    m_pPane1->setFixedWidth(STATUS_PANE1_WIDTH);
    m_pPane1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    statusBar()->addPermanentWidget(m_pPane1);
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    // A button whose command string has no tooltip part shows none.
    if (event->type() == QEvent::ToolTip) {
        for (const auto& [id, action] : m_toolBarActions) {
            if (m_pToolBar->widgetForAction(action) == watched) {
                return ToolTipOf(id).isEmpty();
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::SetPaneText(int pane, const QString& text) {
    (pane == 0 ? m_pPane0 : m_pPane1)->setText(text);
}

QString CMainFrame::GetPaneText(int pane) const {
    return (pane == 0 ? m_pPane0 : m_pPane1)->text();
}

void CMainFrame::OnUpdateFrameTitle() {
    setWindowTitle(QString::fromStdString(m_pDocument->GetTitle()) + QStringLiteral(" - ") +
                   QString::fromStdString(CMySingleDocTemplate::GetDocString(0)));
}

QAction* CMainFrame::MenuAction(unsigned id) const {
    const auto found = m_menuActions.find(id);
    return found == m_menuActions.end() ? nullptr : found->second;
}

QAction* CMainFrame::ToolBarAction(unsigned id) const {
    const auto found = m_toolBarActions.find(id);
    return found == m_toolBarActions.end() ? nullptr : found->second;
}

bool CMainFrame::IsCommandEnabled(unsigned id) const {
    switch (id) {
    case res::ID_FILE_OPEN:
    case res::ID_FILE_SAVE_AS:
    case res::ID_FILE_PRINT:
    case res::ID_RECEIVE_START:
    case res::ID_PORT_SETTINGS:
        return OnUpdateReadyCommand();
    case res::ID_RECEIVE_STOP:
        return OnUpdateReceiveStop();
    case res::ID_FILE_PRINT_DIRECT:
    case res::ID_FILE_PRINT_PREVIEW:
    case res::ID_APP_EXIT:
    case res::ID_APP_ABOUT:
        return true;
    default:
        return false;
    }
}

void CMainFrame::UpdateCommandUI() {
    for (const auto* actions : {&m_menuActions, &m_toolBarActions}) {
        for (const auto& [id, action] : *actions) {
            action->setEnabled(IsCommandEnabled(id));
        }
    }
}

void CMainFrame::OnCommand(unsigned id) {
    if (!IsCommandEnabled(id)) {
        return;
    }
    CKLTApp* app = AfxGetApp();
    switch (id) {
    case res::ID_FILE_OPEN:
        if (app) {
            app->OnFileOpen();
        }
        break;
    case res::ID_FILE_SAVE_AS:
        m_docTemplate.OnFileSaveAs();
        break;
    case res::ID_FILE_PRINT:
    case res::ID_FILE_PRINT_DIRECT:
        m_pView->OnFilePrint();
        break;
    case res::ID_FILE_PRINT_PREVIEW:
        m_pView->OnFilePrintPreview();
        break;
    case res::ID_APP_EXIT:
        close();
        break;
    case res::ID_RECEIVE_START:
        OnReceiveStart();
        break;
    case res::ID_RECEIVE_STOP:
        OnReceiveStop();
        break;
    case res::ID_PORT_SETTINGS:
        OnPortSettings();
        break;
    case res::ID_APP_ABOUT:
        if (app) {
            app->OnAbout();
        }
        break;
    default:
        break;
    }
}

void CMainFrame::PostMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
    QCoreApplication::postEvent(this, new klt::CPostedMessageEvent(message, wParam, lParam));
}

bool CMainFrame::event(QEvent* event) {
    if (event->type() == klt::CPostedMessageEvent::EventType()) {
        const auto* posted = static_cast<klt::CPostedMessageEvent*>(event);
        switch (posted->Message()) {
        case klt::WM_TIMER:
            OnTimer(static_cast<unsigned>(posted->WParam()));
            break;
        case klt::WM_CLOSE:
            close();
            break;
        default:
            break;
        }
        return true;
    }
    if (!m_bOuterSizeFitted && isVisible() &&
        (event->type() == QEvent::Move || event->type() == QEvent::Resize)) {
        // 360 x 480 is the outer size; once the window manager's frame is known, the inside
        // gives way to it.
        const QSize frame = frameGeometry().size() - size();
        if (frame.width() > 0 || frame.height() > 0) {
            m_bOuterSizeFitted = true;
            resize(QSize(FRAME_WIDTH, FRAME_HEIGHT) - frame);
        }
    }
    if (event->type() == QEvent::StatusTip) {
        const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
        m_pPane0->setText(
            tip.isEmpty() ? QString::fromUtf8(res::LoadString(res::AFX_IDS_IDLEMESSAGE)) : tip);
        return true;
    }
    return QMainWindow::event(event);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (!m_docTemplate.SaveModified()) {
        event->ignore();
        return;
    }
    // The reader goes before anything it touches, and the port is closed properly.
    m_controller.Shutdown();
    event->accept();
}

namespace {

QStringList LocalFiles(const QMimeData* data) {
    QStringList files;
    if (!data || !data->hasUrls()) {
        return files;
    }
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) {
            files.append(url.toLocalFile());
        }
    }
    return files;
}

} // namespace

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    dragMoveEvent(event);
}

void CMainFrame::dragMoveEvent(QDragMoveEvent* event) {
    if ((GetFlags() & FLAG_ENABLED) && acceptDrops() && !LocalFiles(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void CMainFrame::dropEvent(QDropEvent* event) {
    const QStringList files = LocalFiles(event->mimeData());
    if (!(GetFlags() & FLAG_ENABLED) || !acceptDrops() || files.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    activateWindow();
    // The opens may ask questions; run them after the drop has completed.
    QTimer::singleShot(0, this, [files] {
        for (const QString& file : files) {
            if (CKLTApp* app = AfxGetApp()) {
                app->OpenDocumentFile(file);
            }
        }
    });
}
