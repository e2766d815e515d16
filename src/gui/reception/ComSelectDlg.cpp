#include "gui/reception/ComSelectDlg.h"

#include "core/res/Strings.h"
#include "gui/framework/MessageBox.h"
#include "gui/reception/PortEnumeration.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cstring>

namespace {
// The name is copied under this limit, terminator included, into the 260-byte buffer.
constexpr std::size_t PORT_NAME_COPY_LIMIT = 259;
} // namespace

CComSelectDlg::CComSelectDlg(char* pszPortName, QWidget* parent, PortLister listPorts)
    : CDialog(parent), m_aPorts{}, m_pszPortName(pszPortName), m_listPorts(std::move(listPorts)) {
    setWindowTitle(QString::fromUtf8(res::LoadString(res::AFX_IDS_APP_TITLE)));

    m_pList = new QTableWidget(0, 2, this);
    m_pList->setObjectName(QStringLiteral("portList"));
    m_pList->setHorizontalHeaderLabels(
        {QString::fromUtf8("COMポート番号"), QString::fromUtf8("デバイスの説明")});
    m_pList->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_pList->horizontalHeader()->setSectionsClickable(false);
    m_pList->horizontalHeader()->setHighlightSections(false);
    m_pList->verticalHeader()->hide();
    m_pList->setShowGrid(true);
    m_pList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pList->setSortingEnabled(false);
    m_pList->setWordWrap(false);

    m_pOk = new QPushButton(QStringLiteral("OK"), this);
    m_pOk->setObjectName(QStringLiteral("okButton"));
    m_pOk->setDefault(true);
    m_pCancel = new QPushButton(QString::fromUtf8("キャンセル"), this);
    m_pCancel->setObjectName(QStringLiteral("cancelButton"));
    m_pCancel->setAutoDefault(false);
    connect(m_pOk, &QPushButton::clicked, this, [this] { OnBnClickedOk(); });
    connect(m_pCancel, &QPushButton::clicked, this, [this] { OnCancel(); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_pOk);
    buttons->addWidget(m_pCancel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 8, 8);
    layout->addWidget(m_pList);
    layout->addLayout(buttons);
    resize(350, 170);
}

void CComSelectDlg::EnumComPorts() {
    m_nPortCount = FillPortTable(m_listPorts(), m_aPorts, MAX_COM_PORTS);
}

bool CComSelectDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    EnumComPorts();
    if (m_nPortCount == 0) {
        klt::AfxMessageBox(res::IDS_NO_COM_PORT, klt::MsgIcon::Stop);
        OnCancel();
        return true;
    }

    m_pList->setRowCount(m_nPortCount);
    for (int row = 0; row < m_nPortCount; ++row) {
        const COMPORT_ENTRY& entry = m_aPorts[row];
        auto* name = new QTableWidgetItem(Cp932ToQString(entry.szPortName));
        name->setData(Qt::UserRole, row);
        m_pList->setItem(row, 0, name);
        m_pList->setItem(row, 1, new QTableWidgetItem(Cp932ToQString(entry.szDescription)));
    }
    // Each column as wide as the wider of its heading and its widest entry.
    m_pList->resizeColumnsToContents();
    m_pList->resizeRowsToContents();
    // The port chosen now when it is listed, else the top row.
    int current = 0;
    for (int row = 0; row < m_nPortCount; ++row) {
        if (m_pszPortName[0] != '\0' && std::strcmp(m_aPorts[row].szPortName, m_pszPortName) == 0) {
            current = row;
            break;
        }
    }
    m_pList->setCurrentCell(current, 0);
    m_pList->selectRow(current);
    m_pList->setFocus();
    return false;
}

void CComSelectDlg::OnBnClickedOk() {
    const QList<QTableWidgetItem*> selected = m_pList->selectedItems();
    const QTableWidgetItem* chosen = nullptr;
    for (const QTableWidgetItem* item : selected) {
        if (item->column() == 0) {
            chosen = item;
            break;
        }
    }
    if (chosen == nullptr) {
        return;
    }
    const int record = chosen->data(Qt::UserRole).toInt();
    // The table's bytes, not the list's text, so the name stays exactly as enumerated.
    const char* name = m_aPorts[record].szPortName;
    const std::size_t length = strnlen(name, PORT_NAME_COPY_LIMIT - 1);
    std::memcpy(m_pszPortName, name, length);
    m_pszPortName[length] = '\0';
    CDialog::OnOK();
}
