#include "gui/app/AboutDlg.h"

#include "core/res/Strings.h"

#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

CAboutDlg::CAboutDlg(QWidget* parent) : CDialog(parent) {
    setWindowTitle(QString::fromUtf8(res::LoadString(res::IDS_ABOUT_TITLE)));
    auto* layout = new QGridLayout(this);
    layout->setHorizontalSpacing(14);

    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/res/klt128.png")).pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);
    layout->addWidget(icon, 0, 0, 2, 1);

    auto* version = new QLabel(QString::fromUtf8(res::LoadString(res::IDS_ABOUT_VERSION)), this);
    version->setTextFormat(Qt::PlainText);
    version->setObjectName(QStringLiteral("version"));
    layout->addWidget(version, 0, 1);
    auto* notice = new QLabel(QString::fromUtf8(res::LoadString(res::IDS_ABOUT_NOTICE)), this);
    notice->setTextFormat(Qt::PlainText);
    notice->setObjectName(QStringLiteral("notice"));
    layout->addWidget(notice, 1, 1);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
    layout->addWidget(ok, 2, 1, Qt::AlignRight);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}
