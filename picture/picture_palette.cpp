#include "picture/picture_palette.h"

#include <array>

namespace norva::picture {

QColor KindColour(MarkKind kind) {
    static const std::array<QColor, 9> kColours{
        QColor(0x8A, 0x96, 0xA3),  // poll
        QColor(0x2E, 0x6F, 0xD1),  // status code
        QColor(0xD6, 0x27, 0x28),  // power-up
        QColor(0x8E, 0x44, 0xAD),  // escrow held
        QColor(0x2C, 0xA0, 0x2C),  // stacked
        QColor(0xFF, 0x7F, 0x0E),  // returned
        QColor(0x17, 0xA5, 0x89),  // host accept
        QColor(0xA0, 0x52, 0x2D),  // host reject
        QColor(0x9A, 0x9A, 0x9A),  // other
    };
    return kColours[std::size_t(kind)];
}

QColor RowColour(Row row) {
    static const std::array<MarkKind, kRowCount> kKinds{
        MarkKind::PowerUp,    MarkKind::StatusCode, MarkKind::EscrowHeld, MarkKind::Stacked,
        MarkKind::Returned,   MarkKind::Other,      MarkKind::Poll,       MarkKind::HostAccept,
        MarkKind::HostReject, MarkKind::Other};
    return KindColour(kKinds[std::size_t(row)]);
}

QColor SpanColour(EscrowEnd end) {
    switch (end) {
        case EscrowEnd::Stacked:
            return {0xA9, 0xDF, 0xA9};
        case EscrowEnd::Returned:
            return {0xFF, 0xC8, 0x91};
        case EscrowEnd::HandedBack:
            return {0xF0, 0x70, 0x70};
        case EscrowEnd::Undecided:
            return {0xC8, 0xC8, 0xC8};
    }
    return {};
}

}  // namespace norva::picture
