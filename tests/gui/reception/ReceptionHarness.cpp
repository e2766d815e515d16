
#include "ReceptionHarness.h"

#include "core/res/Strings.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTest>

#include <system_error>
#include <thread>

CTestSteps::CTestSteps() {
    m_timer.setInterval(5);
    QObject::connect(&m_timer, &QTimer::timeout, this, [this] { Poll(); });
    m_timer.start();
}

void CTestSteps::When(std::function<bool()> condition, std::function<void()> action) {
    m_steps.push_back({std::move(condition), std::move(action)});
}

void CTestSteps::Poll() {
    if (m_bBusy || m_nNext == m_steps.size()) {
        return;
    }
    m_bBusy = true;
    if (m_steps[m_nNext].condition()) {
        Step& step = m_steps[m_nNext++];
        step.action();
    }
    m_bBusy = false;
}

CMessageBoxWatcher::CMessageBoxWatcher(CMainFrame& frame) : m_frame(frame) {
    m_timer.setInterval(10);
    QObject::connect(&m_timer, &QTimer::timeout, this, [this] { Poll(); });
    m_timer.start();
}

void CMessageBoxWatcher::Poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) {
        return;
    }
    CMwaitDlg* waitDlg = WaitDialogOf(m_frame);
    m_seen.push_back(
        {box->text(), waitDlg->IsRunning() && waitDlg->isVisible(), m_frame.GetState()});
    QAbstractButton* ok = box->button(QMessageBox::Ok);
    if (ok == nullptr) {
        ok = box->buttons().value(0);
    }
    ok->click();
}

CMwaitDlg* WaitDialogOf(CMainFrame& frame) {
    if (auto* dlg = frame.findChild<CMwaitDlg*>(QStringLiteral("waitDialog"))) {
        return dlg;
    }
    // Without an owner it is a window of its own.
    for (QWidget* widget : QApplication::allWidgets()) {
        if (widget->objectName() == QLatin1String("waitDialog")) {
            return qobject_cast<CMwaitDlg*>(widget);
        }
    }
    return nullptr;
}

void ReceptionFixture::SetUp() {
    klt::MessageBoxSeam::Reset();
    ASSERT_TRUE(m_line.IsValid());
    Recreate({});
}

void ReceptionFixture::Recreate(const CReceptionController::Timings& timings) {
    m_boxes.reset();
    if (m_template) {
        m_frame->GetActiveDocument()->SetModifiedFlag(false);
        m_template.reset();
    }
    m_template =
        std::make_unique<CMySingleDocTemplate>(timings, [this](std::function<void()> body) {
            if (m_bFailNextReaderStart) {
                m_bFailNextReaderStart = false;
                throw std::system_error(
                    std::make_error_code(std::errc::resource_unavailable_try_again));
            }
            return std::thread(std::move(body));
        });
    ASSERT_NE(m_template->OpenDocumentFile(nullptr), nullptr);
    m_frame = m_template->GetMainFrame();
    ASSERT_NE(m_frame, nullptr);
    m_boxes = std::make_unique<CMessageBoxWatcher>(*m_frame);
    ASSERT_TRUE(WaitFor([this] { return m_frame->GetState() == CMainFrame::STATE_READY; }));
}

void ReceptionFixture::TearDown() {
    m_boxes.reset();
    if (m_frame != nullptr) {
        // Nothing unsaved may ask a question on the way out.
        m_frame->GetActiveDocument()->SetModifiedFlag(false);
    }
    m_template.reset();
    klt::MessageBoxSeam::Reset();
}

bool ReceptionFixture::WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    return QTest::qWaitFor(condition, timeoutMs);
}

std::vector<std::string> ReceptionFixture::DocLines() {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < Doc().GetLineCount(); ++i) {
        lines.emplace_back(Doc().GetLine(i));
    }
    return lines;
}

void ReceptionFixture::ChoosePort(const std::string& name) {
    m_frame->Controller().SetPortName(name);
}

bool ReceptionFixture::WaitDialogUp() {
    CMwaitDlg* dlg = WaitDialogOf(*m_frame);
    return dlg != nullptr && dlg->IsRunning() && dlg->isVisible();
}

QString ReceptionFixture::Text(unsigned stringId) {
    return QString::fromUtf8(res::LoadString(stringId));
}

std::vector<QString> ReceptionFixture::ShownTexts() const {
    std::vector<QString> texts;
    for (const klt::ShownMessage& shown : klt::MessageBoxSeam::Shown()) {
        texts.push_back(shown.text);
    }
    return texts;
}
