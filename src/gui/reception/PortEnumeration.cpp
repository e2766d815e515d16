#include "gui/reception/PortEnumeration.h"

#include "core/text/Cp932.h"
#include "platform/posix/VirtualPortRegistry.h"

#include <QSerialPortInfo>

#include <unordered_map>

namespace {

// Unicode to CP932, built once from the decoding table so both directions agree.
const std::unordered_map<char32_t, std::string>& EncodingTable() {
    static const std::unordered_map<char32_t, std::string> table = [] {
        std::unordered_map<char32_t, std::string> map;
        std::string bytes(2, '\0');
        for (int lead = 0; lead < 0x100; ++lead) {
            bytes[0] = static_cast<char>(lead);
            if (!cp932::IsLeadByte(static_cast<unsigned char>(lead))) {
                char32_t codePoint = 0;
                if (cp932::DecodeChar(std::string_view(bytes.data(), 1), 0, codePoint) == 1 &&
                    codePoint != 0) {
                    map.emplace(codePoint, std::string(1, static_cast<char>(lead)));
                }
                continue;
            }
            for (int trail = 0x40; trail <= 0xFC; ++trail) {
                bytes[1] = static_cast<char>(trail);
                char32_t codePoint = 0;
                cp932::DecodeChar(bytes, 0, codePoint);
                if (codePoint != 0) {
                    map.emplace(codePoint, bytes); // the first code of a duplicate wins
                }
            }
        }
        return map;
    }();
    return table;
}

} // namespace

QString Cp932ToQString(std::string_view text) {
    QString result;
    std::size_t pos = 0;
    while (pos < text.size()) {
        char32_t codePoint = 0;
        const std::size_t length = cp932::DecodeChar(text, pos, codePoint);
        if (codePoint != 0) {
            result.append(QString::fromUcs4(&codePoint, 1));
        } else if (static_cast<unsigned char>(text[pos]) >= 0x80) {
            result.append(QLatin1Char('?'));
        }
        pos += length;
    }
    return result;
}

std::string QStringToCp932(const QString& text) {
    std::string result;
    for (const char32_t codePoint : text.toUcs4()) {
        if (codePoint < 0x80) {
            result.push_back(static_cast<char>(codePoint));
            continue;
        }
        const auto& table = EncodingTable();
        const auto found = table.find(codePoint);
        result += found != table.end() ? found->second : std::string("?");
    }
    return result;
}

std::vector<EnumeratedPort> EnumerateSerialPorts() {
    std::vector<EnumeratedPort> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        EnumeratedPort port;
        port.portName = info.portName().toStdString();
        const QString friendly =
            !info.description().isEmpty() ? info.description() : info.manufacturer();
        port.friendlyName = QStringToCp932(friendly);
        ports.push_back(std::move(port));
    }
    for (const vports::Entry& entry : vports::List()) {
        ports.push_back(
            {entry.portName, QStringToCp932(QString::fromStdString(entry.description)), true});
    }
    return ports;
}
