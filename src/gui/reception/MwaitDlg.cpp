#include "gui/reception/MwaitDlg.h"

#include "core/res/Strings.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CMwaitDlg::CMwaitDlg(QWidget* parent) : CDialog(parent) {
    setWindowTitle(QString::fromUtf8(res::LoadString(res::AFX_IDS_APP_TITLE)));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

    m_pPrompt = new QLabel(
        QString::fromUtf8("「M」ボタンを押して下さい。\n(30秒でタイムアウトします。)"), this);
    m_pPrompt->setObjectName(QStringLiteral("prompt"));
    m_pPrompt->setAlignment(Qt::AlignCenter);
    m_pCancel = new QPushButton(QString::fromUtf8("キャンセル"), this);
    m_pCancel->setObjectName(QStringLiteral("cancelButton"));
    m_pCancel->setDefault(true);
    connect(m_pCancel, &QPushButton::clicked, this, [this] { OnCancel(); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pPrompt);
    layout->addWidget(m_pCancel, 0, Qt::AlignHCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

bool CMwaitDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    return true;
}
