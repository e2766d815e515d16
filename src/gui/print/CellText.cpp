#include "gui/print/CellText.h"

#include "core/text/Cp932.h"

#include <QFontDatabase>
#include <QGlyphRun>
#include <QPainter>
#include <QVector>

#include <algorithm>

namespace {

QString ChooseFamily() {
    static const QString chosen = [] {
        const QStringList installed = QFontDatabase::families();
        for (const QString& wanted : {QStringLiteral("ＭＳ ゴシック"), QStringLiteral("MS Gothic"),
                                      QStringLiteral("IPAGothic"), QStringLiteral("IPAゴシック")}) {
            if (installed.contains(wanted)) {
                return wanted;
            }
        }
        QString anyJapanese;
        for (const QString& family : installed) {
            if (!QFontDatabase::writingSystems(family).contains(QFontDatabase::Japanese)) {
                continue;
            }
            if (QFontDatabase::isFixedPitch(family)) {
                return family;
            }
            if (anyJapanese.isEmpty()) {
                anyJapanese = family;
            }
        }
        return anyJapanese.isEmpty() ? QFontDatabase::systemFont(QFontDatabase::FixedFont).family()
                                     : anyJapanese;
    }();
    return chosen;
}

} // namespace

QFont CreateHistoryFont(int cellHeight, int cellWidth) {
    Q_UNUSED(cellWidth); // the width comes from the cells, not from stretching the face
    QFont font(ChooseFamily());
    font.setPixelSize(qMax(1, cellHeight));
    font.setWeight(QFont::Normal);
    font.setFixedPitch(true);
    font.setStyleHint(QFont::Monospace, QFont::PreferDefault);
    font.setKerning(false);
    return font;
}

CCellTextPainter::CCellTextPainter(const QFont& font, int cellWidth, int cellHeight)
    : m_font(font), m_rawFont(QRawFont::fromFont(font)), m_nCellWidth(cellWidth),
      m_nCellHeight(cellHeight) {
    // Put the baseline so that ascent and descent share the cell like the face intends.
    const qreal ascent = m_rawFont.isValid() ? m_rawFont.ascent() : cellHeight * 0.88;
    const qreal descent = m_rawFont.isValid() ? m_rawFont.descent() : cellHeight * 0.12;
    const qreal total = ascent + descent;
    m_ascent = total > 0 ? cellHeight * ascent / total : cellHeight * 0.88;
}

void CCellTextPainter::DrawCells(QPainter& painter, qint64 x, int y, std::string_view text,
                                 bool opaque, std::size_t firstCell, std::size_t endCell) const {
    endCell = std::min(endCell, text.size());
    if (firstCell >= endCell) {
        return;
    }
    // A double-byte character may begin one cell before the range.
    const std::size_t begin = cp932::CharStart(text, firstCell);
    if (opaque) {
        painter.fillRect(QRectF(x + static_cast<qreal>(begin) * m_nCellWidth, y,
                                static_cast<qreal>(endCell - begin) * m_nCellWidth, m_nCellHeight),
                         Qt::white);
    }

    QString characters;
    QVector<QPointF> positions;
    characters.reserve(static_cast<qsizetype>(endCell - begin));
    positions.reserve(static_cast<qsizetype>(endCell - begin));
    const qreal baseline = y + m_ascent;
    std::size_t pos = begin;
    while (pos < endCell) {
        char32_t codePoint = 0;
        const std::size_t width = cp932::DecodeChar(text, pos, codePoint);
        if (codePoint != 0) {
            const char32_t one[] = {codePoint};
            characters += QString::fromUcs4(one, 1);
            positions.append(QPointF(x + static_cast<qreal>(pos) * m_nCellWidth, baseline));
        }
        pos += width;
    }
    m_nConvertedBytes += pos - begin;
    if (characters.isEmpty()) {
        return;
    }

    painter.save();
    painter.setPen(Qt::black);
    const QVector<quint32> glyphs =
        m_rawFont.isValid() ? m_rawFont.glyphIndexesForString(characters) : QVector<quint32>();
    const bool mapped = glyphs.size() == positions.size();
    QVector<quint32> found;
    QVector<QPointF> foundAt;
    if (mapped) {
        found.reserve(glyphs.size());
        foundAt.reserve(glyphs.size());
        for (qsizetype i = 0; i < glyphs.size(); ++i) {
            if (glyphs.at(i) != 0) {
                found.append(glyphs.at(i));
                foundAt.append(positions.at(i));
            }
        }
    }
    if (!found.isEmpty()) {
        QGlyphRun run;
        run.setRawFont(m_rawFont);
        run.setGlyphIndexes(found);
        run.setPositions(foundAt);
        painter.drawGlyphRun(QPointF(0, 0), run);
    }
    if (found.size() != positions.size()) {
        // The characters missing from the face: Qt's font fallback draws them one by one,
        // each still at its own cell.
        painter.setFont(m_font);
        qsizetype index = 0;
        for (qsizetype i = 0; i < characters.size(); ++index) {
            const qsizetype length = characters.at(i).isHighSurrogate() ? 2 : 1;
            if (!mapped || glyphs.at(index) == 0) {
                painter.drawText(positions.at(index), characters.mid(i, length));
            }
            i += length;
        }
    }
    painter.restore();
}
