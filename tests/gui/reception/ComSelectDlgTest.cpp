#include "gui/reception/ComSelectDlg.h"
#include "core/res/Strings.h"
#include "gui/framework/MessageBox.h"
#include "gui/reception/PortEnumeration.h"
#include "platform/posix/VirtualPortRegistry.h"

#include <QHeaderView>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <functional>

namespace {

constexpr int IDOK = klt::IDOK;
constexpr int IDCANCEL = klt::IDCANCEL;

const std::vector<EnumeratedPort> kTwoPorts = {
    {"ttyUSB0", "USB Serial Port (COM5)", false},
    {"ttyS0", "Communications Port (COM1)", false},
};

// The dialog's ports come from the test, not from the machine it runs on.
PortLister Ports(std::vector<EnumeratedPort> ports) {
    return [ports] { return ports; };
}

QTableWidget* List(CComSelectDlg& dlg) {
    return dlg.findChild<QTableWidget*>(QStringLiteral("portList"));
}

QPushButton* Button(CComSelectDlg& dlg, const char* name) {
    return dlg.findChild<QPushButton*>(QString::fromLatin1(name));
}

class ComSelectDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        klt::MessageBoxSeam::Reset();
        std::memset(m_szPortName, 0, sizeof m_szPortName);
    }

    // Runs the dialog modally; action runs inside its message loop once it is up.
    int Run(CComSelectDlg& dlg, std::function<void()> action) {
        QTimer::singleShot(0, &dlg, [&dlg, action] {
            m_bWasVisible = dlg.isVisible();
            action();
        });
        // A guard so a fault in the dialog fails the test instead of hanging it.
        QTimer::singleShot(10000, &dlg, [&dlg] {
            if (dlg.IsRunning()) {
                dlg.EndDialog(-1);
            }
        });
        return dlg.DoModal();
    }

    char m_szPortName[260];
    static inline bool m_bWasVisible = false;
};

} // namespace

TEST_F(ComSelectDlgTest, OpensWithTheTopRowSelectedAndEnterChoosesIt) {
    CComSelectDlg dlg(m_szPortName, nullptr, Ports(kTwoPorts));
    QTableWidget* list = List(dlg);
    int selectedRow = -1;
    bool listHasFocus = false;
    QStringList rows;
    const int result = Run(dlg, [&] {
        for (int row = 0; row < list->rowCount(); ++row) {
            rows << list->item(row, 0)->text() + "|" + list->item(row, 1)->text();
        }
        const auto selected = list->selectionModel()->selectedRows();
        selectedRow = selected.size() == 1 ? selected.front().row() : -1;
        listHasFocus = dlg.focusWidget() == list;
        QTest::keyClick(list, Qt::Key_Return);
    });
    EXPECT_TRUE(m_bWasVisible);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(rows, (QStringList{"ttyS0|Communications Port ", "ttyUSB0|USB Serial Port "}));
    EXPECT_EQ(selectedRow, 0);
    EXPECT_TRUE(listHasFocus);
    EXPECT_STREQ(m_szPortName, "ttyS0");
    EXPECT_EQ(dlg.windowTitle(), "KLT");
    EXPECT_EQ(list->horizontalHeaderItem(0)->text(), QString::fromUtf8("COMポート番号"));
    EXPECT_EQ(list->horizontalHeaderItem(1)->text(), QString::fromUtf8("デバイスの説明"));
    EXPECT_EQ(Button(dlg, "cancelButton")->text(), QString::fromUtf8("キャンセル"));
}

TEST_F(ComSelectDlgTest, ClickingARowAndOkChoosesThatRow) {
    CComSelectDlg dlg(m_szPortName, nullptr, Ports(kTwoPorts));
    QTableWidget* list = List(dlg);
    const int result = Run(dlg, [&] {
        const QRect cell = list->visualItemRect(list->item(1, 1));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseClick(Button(dlg, "okButton"), Qt::LeftButton);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_STREQ(m_szPortName, "ttyUSB0");
}

TEST_F(ComSelectDlgTest, CancelEscapeAndCloseKeepTheEarlierChoice) {
    const std::pair<const char*, std::function<void(CComSelectDlg&)>> ways[] = {
        {"cancel button",
         [](CComSelectDlg& d) { QTest::mouseClick(Button(d, "cancelButton"), Qt::LeftButton); }},
        {"escape", [](CComSelectDlg& d) { QTest::keyClick(List(d), Qt::Key_Escape); }},
        {"close box", [](CComSelectDlg& d) { d.close(); }},
    };
    for (const auto& [name, way] : ways) {
        std::memset(m_szPortName, 0x7E, sizeof m_szPortName);
        std::strcpy(m_szPortName, "pts/9");
        char before[260];
        std::memcpy(before, m_szPortName, sizeof before);
        CComSelectDlg dlg(m_szPortName, nullptr, Ports(kTwoPorts));
        const int result = Run(dlg, [&] { way(dlg); });
        EXPECT_EQ(result, IDCANCEL) << name;
        EXPECT_EQ(std::memcmp(before, m_szPortName, sizeof before), 0) << name;
    }
}

TEST_F(ComSelectDlgTest, OkWithNothingSelectedDoesNothing) {
    CComSelectDlg dlg(m_szPortName, nullptr, Ports(kTwoPorts));
    bool stillRunning = false;
    const int result = Run(dlg, [&] {
        List(dlg)->clearSelection();
        QTest::mouseClick(Button(dlg, "okButton"), Qt::LeftButton);
        stillRunning = dlg.IsRunning() && dlg.isVisible();
        QTest::mouseClick(Button(dlg, "cancelButton"), Qt::LeftButton);
    });
    EXPECT_TRUE(stillRunning);
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(m_szPortName[0], '\0');
}

TEST_F(ComSelectDlgTest, NoPortShowsMessage102AndCancelsWithoutShowing) {
    std::strcpy(m_szPortName, "ttyS3");
    klt::MessageBoxSeam::SetNextAnswer(IDOK);
    CComSelectDlg dlg(m_szPortName, nullptr, Ports({}));
    bool everShown = false;
    QTimer::singleShot(0, &dlg, [&] { everShown = dlg.isVisible(); });
    const int result = dlg.DoModal();
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_FALSE(dlg.isVisible());
    QApplication::processEvents();
    EXPECT_FALSE(everShown);
    ASSERT_EQ(klt::MessageBoxSeam::Shown().size(), 1);
    EXPECT_EQ(klt::MessageBoxSeam::Shown()[0].text,
              QString::fromUtf8(res::LoadString(res::IDS_NO_COM_PORT)));
    EXPECT_EQ(klt::MessageBoxSeam::Shown()[0].icon, klt::MsgIcon::Stop);
    EXPECT_STREQ(m_szPortName, "ttyS3");
}

TEST_F(ComSelectDlgTest, ColumnsAreAsWideAsHeadingOrWidestEntry) {
    const std::string wide(60, 'W');
    CComSelectDlg dlg(m_szPortName, nullptr,
                      Ports({{"ttyS0", wide, false}, {"ttyS1", "x", false}}));
    QTableWidget* list = List(dlg);
    int nameWidth = 0;
    int descriptionWidth = 0;
    int headingWidth = 0;
    int widestDescription = 0;
    Run(dlg, [&] {
        nameWidth = list->columnWidth(0);
        descriptionWidth = list->columnWidth(1);
        headingWidth = list->horizontalHeader()->sectionSizeHint(0);
        widestDescription = list->fontMetrics().horizontalAdvance(QString::fromStdString(wide));
        dlg.close();
    });
    // The port names are shorter than their heading, the description longer than its own.
    EXPECT_GE(nameWidth, headingWidth);
    EXPECT_GE(descriptionWidth, widestDescription);
    EXPECT_GT(descriptionWidth, list->horizontalHeader()->sectionSizeHint(1));
}

TEST_F(ComSelectDlgTest, ANameOf258CharactersIsCopiedWhole) {
    const std::string longest(258, 'p');
    std::memset(m_szPortName, 0x7E, sizeof m_szPortName);
    CComSelectDlg dlg(m_szPortName, nullptr, Ports({{longest, "", true}}));
    EXPECT_EQ(Run(dlg, [&] { QTest::mouseClick(Button(dlg, "okButton"), Qt::LeftButton); }), IDOK);
    EXPECT_EQ(std::string(m_szPortName), longest);
    EXPECT_EQ(m_szPortName[259], 0x7E); // nothing written past the copy limit
}

// Without the test list: the platform's ports plus a virtual port this process registers
// for a real pseudo-terminal, as the simulator does.
TEST_F(ComSelectDlgTest, ListsARegisteredVirtualPortAfterTheRealOnes) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string device = ptsname(master);
    const std::string portName = device.substr(std::strlen("/dev/"));
    ASSERT_TRUE(vports::Register(portName, "KLT test machine"));

    CComSelectDlg dlg(m_szPortName);
    QTableWidget* list = List(dlg);
    int row = -1;
    QString description;
    const int result = Run(dlg, [&] {
        for (int i = 0; i < list->rowCount(); ++i) {
            if (list->item(i, 0)->text() == QString::fromStdString(portName)) {
                row = i;
                description = list->item(i, 1)->text();
            }
        }
        if (row >= 0) {
            list->selectRow(row);
        }
        QTest::mouseClick(Button(dlg, "okButton"), Qt::LeftButton);
    });
    vports::Unregister();
    ::close(master);

    ASSERT_GE(row, 0);
    // Virtual ports come after every real port.
    EXPECT_GE(row, QSerialPortInfo::availablePorts().size());
    EXPECT_EQ(description, "KLT test machine");
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(std::string(m_szPortName), portName);
}

TEST(PortEnumeration, Cp932ConversionRoundTrips) {
    const QString text = QString::fromUtf8("USBシリアル変換 (COM5) ｱ");
    const std::string bytes = QStringToCp932(text);
    EXPECT_EQ(bytes.substr(0, 5), "USB\x83\x56");
    EXPECT_EQ(Cp932ToQString(bytes), text);
    EXPECT_EQ(QStringToCp932(QString::fromUtf8("é")), "?");
}

TEST_F(ComSelectDlgTest, OpensOnThePortChosenNowWhenItIsListedElseOnTheTopRow) {
    const struct {
        const char* chosen;
        int row;
    } cases[] = {{"ttyUSB0", 1}, {"ttyS0", 0}, {"ttyACM7", 0}, {"", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chosen);
        std::strcpy(m_szPortName, c.chosen);
        CComSelectDlg dlg(m_szPortName, nullptr, Ports(kTwoPorts));
        int selectedRow = -1;
        Run(dlg, [&] {
            const auto selected = List(dlg)->selectionModel()->selectedRows();
            selectedRow = selected.size() == 1 ? selected.front().row() : -1;
            EXPECT_EQ(List(dlg)->currentRow(), selectedRow);
            dlg.EndDialog(IDCANCEL);
        });
        EXPECT_EQ(selectedRow, c.row);
        EXPECT_STREQ(m_szPortName, c.chosen) << "cancel keeps the choice";
    }
}
