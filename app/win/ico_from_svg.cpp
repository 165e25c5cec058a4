// skarvel-ico-from-svg: draws the program's SVG icon into a Windows icon
// file at build time, so the icon of skarvel.exe never drifts from the
// window's own.
//
//   skarvel-ico-from-svg ICON.svg OUT.ico
//
// The icon holds one 32-bit picture per size Windows asks for (list and
// title bar 16 to 24, desktop 32 to 64, large tiles 256), each stored as a
// PNG, which icon files may hold since Windows Vista. Runs on the build
// machine; it draws shapes only (no text), so it needs no display and no
// platform plugin.
#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QtEndian>
#include <cstdio>
#include <vector>

namespace {

constexpr int kSizes[] = {16, 20, 24, 32, 40, 48, 64, 256};

void Put16(QByteArray& out, quint16 v) {
    const quint16 le = qToLittleEndian(v);
    out.append(reinterpret_cast<const char*>(&le), 2);
}

void Put32(QByteArray& out, quint32 v) {
    const quint32 le = qToLittleEndian(v);
    out.append(reinterpret_cast<const char*>(&le), 4);
}

QByteArray Png(QSvgRenderer& svg, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    svg.render(&painter, QRectF(0, 0, size, size));
    painter.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.convertToFormat(QImage::Format_ARGB32).save(&buffer, "PNG");
    return png;
}

// The icon file: a header, one directory entry per picture, the pictures.
QByteArray IconFile(const std::vector<std::pair<int, QByteArray>>& pictures) {
    QByteArray out;
    Put16(out, 0);  // reserved
    Put16(out, 1);  // an icon, not a cursor
    Put16(out, static_cast<quint16>(pictures.size()));
    quint32 offset = 6 + 16 * static_cast<quint32>(pictures.size());
    for (const auto& [size, png] : pictures) {
        out.append(static_cast<char>(size >= 256 ? 0 : size));  // 0 stands for 256
        out.append(static_cast<char>(size >= 256 ? 0 : size));
        out.append('\0');  // no palette
        out.append('\0');  // reserved
        Put16(out, 1);     // colour planes
        Put16(out, 32);    // bits per pixel
        Put32(out, static_cast<quint32>(png.size()));
        Put32(out, offset);
        offset += static_cast<quint32>(png.size());
    }
    for (const auto& picture : pictures) out.append(picture.second);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: skarvel-ico-from-svg ICON.svg OUT.ico\n");
        return 2;
    }
    QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
    if (!svg.isValid()) {
        std::fprintf(stderr, "skarvel-ico-from-svg: %s is no SVG picture\n", argv[1]);
        return 1;
    }
    std::vector<std::pair<int, QByteArray>> pictures;
    for (int size : kSizes) pictures.emplace_back(size, Png(svg, size));
    QFile out(QString::fromLocal8Bit(argv[2]));
    const QByteArray bytes = IconFile(pictures);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.flush()) {
        std::fprintf(stderr, "skarvel-ico-from-svg: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
