#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

// The history's lines, kept back to back in one byte buffer with an end offset per line.
// A 2-million-line history costs its bytes plus 8 bytes a line, not a heap block a line.
// Lines are only appended or all removed, never changed.
class CLineArray {
public:
    std::size_t GetSize() const { return m_ends.size(); }
    bool IsEmpty() const { return m_ends.empty(); }

    std::string_view GetAt(std::size_t index) const {
        const std::size_t begin = index == 0 ? 0 : m_ends[index - 1];
        return {m_bytes.data() + begin, m_ends[index] - begin};
    }
    std::string_view operator[](std::size_t index) const { return GetAt(index); }

    void Add(std::string_view line) {
        m_bytes.insert(m_bytes.end(), line.begin(), line.end());
        m_ends.push_back(m_bytes.size());
    }

    // Removes every line and gives the memory back.
    void RemoveAll() {
        std::vector<char>().swap(m_bytes);
        std::vector<std::size_t>().swap(m_ends);
    }

    void Reserve(std::size_t lines, std::size_t bytes) {
        m_ends.reserve(lines);
        m_bytes.reserve(bytes);
    }

    // Total bytes of all lines, without line ends.
    std::size_t ByteSize() const { return m_ends.empty() ? 0 : m_ends.back(); }

private:
    friend class CKLTDoc; // the loader builds lines in place at the end of m_bytes

    std::vector<char> m_bytes;
    std::vector<std::size_t> m_ends;
};
