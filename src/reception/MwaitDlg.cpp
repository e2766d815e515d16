#include "reception/MwaitDlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CMwaitDlg::CMwaitDlg() : CDialog(nullptr) {
    setWindowTitle(QStringLiteral("KLT"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* prompt = new QLabel(
        QStringLiteral("「M」ボタンを押して下さい。\n(30秒でタイムアウトします。)"), this);
    prompt->setAlignment(Qt::AlignCenter);
    layout->addWidget(prompt);
    auto* cancel = new QPushButton(QStringLiteral("キャンセル"), this);
    connect(cancel, &QPushButton::clicked, this, [this] { OnCancel(); });
    layout->addWidget(cancel, 0, Qt::AlignHCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

bool CMwaitDlg::OnInitDialog() {
    return CDialog::OnInitDialog();
}
