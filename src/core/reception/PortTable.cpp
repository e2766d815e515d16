#include "core/reception/PortTable.h"

#include "core/text/Cp932.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::size_t MAX_PORT_NAME = 258;
constexpr std::size_t MAX_DESCRIPTION = 255;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Cuts text to at most limit bytes without leaving half of a double-byte character.
std::string CutCharacters(const std::string& text, std::size_t limit) {
    std::size_t end = 0;
    while (end < text.size()) {
        const std::size_t step =
            cp932::IsLeadByte(static_cast<unsigned char>(text[end])) && end + 1 < text.size() ? 2
                                                                                              : 1;
        if (end + step > limit) {
            break;
        }
        end += step;
    }
    return text.substr(0, end);
}

} // namespace

bool PortNameLess(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            std::size_t endA = i;
            std::size_t endB = j;
            while (endA < a.size() && IsDigit(a[endA])) {
                ++endA;
            }
            while (endB < b.size() && IsDigit(b[endB])) {
                ++endB;
            }
            // Compare by value without converting: skip leading zeros, then length, then digits.
            std::size_t startA = i;
            std::size_t startB = j;
            while (startA + 1 < endA && a[startA] == '0') {
                ++startA;
            }
            while (startB + 1 < endB && b[startB] == '0') {
                ++startB;
            }
            const std::size_t lengthA = endA - startA;
            const std::size_t lengthB = endB - startB;
            if (lengthA != lengthB) {
                return lengthA < lengthB;
            }
            const int order = a.compare(startA, lengthA, b, startB, lengthB);
            if (order != 0) {
                return order < 0;
            }
            // Equal values: fewer leading zeros first, so the order stays total.
            if (endA - i != endB - j) {
                return endA - i < endB - j;
            }
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j]) {
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        }
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

std::string PortDescription(const std::string& friendlyName) {
    const std::size_t at = cp932::Find(friendlyName, "COM");
    if (at == std::string::npos) {
        return CutCharacters(friendlyName, MAX_DESCRIPTION);
    }
    // The byte before "COM" is dropped as a byte, not as a character: before a full-width
    // parenthesis the lead byte stays, as the list has always shown it.
    const std::size_t keep = at > 1 ? at - 1 : 0;
    return friendlyName.substr(0, std::min(keep, MAX_DESCRIPTION));
}

int FillPortTable(const std::vector<EnumeratedPort>& ports, COMPORT_ENTRY* table, int capacity) {
    std::vector<const EnumeratedPort*> ordered;
    ordered.reserve(ports.size());
    for (const EnumeratedPort& port : ports) {
        if (!port.portName.empty() && port.portName.size() <= MAX_PORT_NAME &&
            port.portName.find('\0') == std::string::npos) {
            ordered.push_back(&port);
        }
    }
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const EnumeratedPort* a, const EnumeratedPort* b) {
                         if (a->isVirtual != b->isVirtual) {
                             return !a->isVirtual;
                         }
                         return PortNameLess(a->portName, b->portName);
                     });

    int count = 0;
    for (const EnumeratedPort* port : ordered) {
        if (count >= capacity) {
            break;
        }
        COMPORT_ENTRY& entry = table[count];
        std::memset(&entry, 0, sizeof entry);
        std::snprintf(entry.szPortName, sizeof entry.szPortName - 1, "%s", port->portName.c_str());
        const std::string description = PortDescription(port->friendlyName);
        std::memcpy(entry.szDescription, description.data(), description.size());
        ++count;
    }
    return count;
}
