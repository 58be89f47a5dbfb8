#!/usr/bin/python3
"""Draws the viewer's default control-bar art and idle-window logo into app/resources/Skin/.

    scripts/draw-art.py        (Debian's python3 with python3-pyqt6)

Everything is drawn at 1:1 with QPainter so that the pictures stay crisp: the bar background
(a graphite gradient with a highlight line on top and a shadow line at the bottom), four
button sheets of seven 28 x 28 cells (Play, Pause, Stop, Slower, Fast, Front, Next) for the
normal, mouse-over, pressed and disabled looks, the slider's channel (plain and played) and
thumb (plain and dragged), and logo.bmp, the program mark with its name on black. Button cells,
channel and thumb carry the bar's background behind them, at the rows where the bar puts them,
so that they are plain opaque bitmaps. The skin file replayer_config.ini names them.
"""
import os
import sys

os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
from PyQt6.QtCore import QPointF, QRectF, Qt
from PyQt6.QtGui import QColor, QFont, QGuiApplication, QImage, QPainter, QPainterPath, QPolygonF

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "app", "resources", "Skin")

BAR_HEIGHT = 35
TOP, BOTTOM = QColor("#2E343B"), QColor("#22272D")
HIGHLIGHT, SHADOW = QColor("#3E464F"), QColor("#15181C")
GLYPH, GLYPH_HOVER, GLYPH_DISABLED = QColor("#E6EAEE"), QColor("#FFFFFF"), QColor("#7A838C")
ACCENT, ACCENT_DOWN = QColor("#3C8DDE"), QColor("#2A6CB0")
CELL = 28
BUTTON_TOP = 5      # the bar's row of the buttons' top edge
SLIDER_TOP = 8      # the bar's row of the slider's top edge
SLIDER_HEIGHT = 13


def bar_row(y):
    """Colour of the bar background at row y."""
    if y <= 0:
        return HIGHLIGHT
    if y >= BAR_HEIGHT - 1:
        return SHADOW
    t = (y - 1) / (BAR_HEIGHT - 3)
    mix = lambda a, b: round(a + (b - a) * t)
    return QColor(mix(TOP.red(), BOTTOM.red()), mix(TOP.green(), BOTTOM.green()),
                  mix(TOP.blue(), BOTTOM.blue()))


def bar_piece(width, height, top):
    """An image of the bar's background rows top .. top + height - 1."""
    image = QImage(width, height, QImage.Format.Format_RGB32)
    for y in range(height):
        colour = bar_row(top + y)
        for x in range(width):
            image.setPixelColor(x, y, colour)
    return image


def save(image, name):
    path = os.path.join(OUT, name)
    if not image.convertToFormat(QImage.Format.Format_RGB888).save(path, "BMP"):
        sys.exit(f"draw-art: cannot write {path}")


def triangle(painter, x, y, w, h, right=True):
    """A solid triangle in the box (x, y, w, h), pointing right or left."""
    if right:
        points = [QPointF(x, y), QPointF(x + w, y + h / 2), QPointF(x, y + h)]
    else:
        points = [QPointF(x + w, y), QPointF(x, y + h / 2), QPointF(x + w, y + h)]
    painter.drawPolygon(QPolygonF(points))


def glyph(painter, index, colour):
    """Glyph `index` (Play, Pause, Stop, Slower, Fast, Front, Next) centred in a 28 x 28 cell."""
    painter.setPen(Qt.PenStyle.NoPen)
    painter.setBrush(colour)
    if index == 0:    # play
        triangle(painter, 10, 8, 10, 12)
    elif index == 1:  # pause
        painter.fillRect(9, 8, 3, 12, colour)
        painter.fillRect(16, 8, 3, 12, colour)
    elif index == 2:  # stop
        painter.fillRect(9, 9, 10, 10, colour)
    elif index == 3:  # slower: two triangles pointing left
        triangle(painter, 6, 9, 8, 10, right=False)
        triangle(painter, 14, 9, 8, 10, right=False)
    elif index == 4:  # fast: two triangles pointing right
        triangle(painter, 6, 9, 8, 10)
        triangle(painter, 14, 9, 8, 10)
    elif index == 5:  # one frame back: bar and triangle pointing left
        painter.fillRect(8, 9, 2, 10, colour)
        triangle(painter, 11, 9, 9, 10, right=False)
    elif index == 6:  # one frame on: triangle pointing right and bar
        triangle(painter, 8, 9, 9, 10)
        painter.fillRect(18, 9, 2, 10, colour)


def button_sheet(look):
    """Seven cells of one look: 'up', 'over', 'down' or 'disable'."""
    sheet = bar_piece(7 * CELL, CELL, BUTTON_TOP)
    painter = QPainter(sheet)
    painter.setRenderHint(QPainter.RenderHint.Antialiasing)
    for i in range(7):
        painter.save()
        painter.translate(i * CELL, 0)
        colour = {"up": GLYPH, "over": GLYPH_HOVER, "down": GLYPH_HOVER,
                  "disable": GLYPH_DISABLED}[look]
        if look in ("over", "down"):
            painter.setPen(Qt.PenStyle.NoPen)
            painter.setBrush(ACCENT if look == "over" else ACCENT_DOWN)
            painter.drawRoundedRect(QRectF(1, 1, CELL - 2, CELL - 2), 2, 2)
        if look == "down":
            painter.translate(0, 1)  # a pressed glyph sits a pixel lower
        glyph(painter, i, colour)
        painter.restore()
    painter.end()
    return sheet


def channel(played):
    """The slider's channel: a 4-pixel groove across the middle, rounded at the left end."""
    width = 40
    image = bar_piece(width, SLIDER_HEIGHT, SLIDER_TOP)
    painter = QPainter(image)
    painter.setRenderHint(QPainter.RenderHint.Antialiasing)
    painter.setPen(Qt.PenStyle.NoPen)
    groove = QPainterPath()
    groove.addRoundedRect(QRectF(0, 4.5, width + 4, 4), 2, 2)
    painter.setBrush(ACCENT if played else SHADOW)
    painter.drawPath(groove)
    painter.end()
    if not played:  # a highlight under the empty groove
        for x in range(2, width):
            image.setPixelColor(x, 9, HIGHLIGHT)
    return image


def thumb(dragged):
    """The slider's thumb: a small rounded knob, 9 x 13."""
    image = bar_piece(9, SLIDER_HEIGHT, SLIDER_TOP)
    painter = QPainter(image)
    painter.setRenderHint(QPainter.RenderHint.Antialiasing)
    painter.setPen(ACCENT if dragged else SHADOW)
    painter.setBrush(GLYPH_HOVER if dragged else GLYPH)
    painter.drawRoundedRect(QRectF(0.5, 1.5, 8, 10), 2, 2)
    painter.end()
    return image


def mark(painter, x, y, size):
    """The program mark: a rounded accent square with a white lens holding a play triangle."""
    painter.setPen(Qt.PenStyle.NoPen)
    painter.setBrush(ACCENT)
    painter.drawRoundedRect(QRectF(x, y, size, size), size * 0.2, size * 0.2)
    ring = size * 0.62
    painter.setBrush(Qt.BrushStyle.NoBrush)
    pen = painter.pen()
    pen.setStyle(Qt.PenStyle.SolidLine)
    pen.setColor(QColor("#FFFFFF"))
    pen.setWidthF(size * 0.08)
    painter.setPen(pen)
    c = QPointF(x + size / 2, y + size / 2)
    painter.drawEllipse(c, ring / 2, ring / 2)
    painter.setPen(Qt.PenStyle.NoPen)
    painter.setBrush(QColor("#FFFFFF"))
    t = size * 0.26
    painter.drawPolygon(QPolygonF([QPointF(c.x() - t * 0.38, c.y() - t / 2),
                                   QPointF(c.x() + t * 0.55, c.y()),
                                   QPointF(c.x() - t * 0.38, c.y() + t / 2)]))


def logo():
    """The idle-window logo: the mark and the word "Vendrel" on black, 120 x 80."""
    image = QImage(120, 80, QImage.Format.Format_RGB32)
    image.fill(QColor("#000000"))
    painter = QPainter(image)
    painter.setRenderHint(QPainter.RenderHint.Antialiasing)
    painter.setRenderHint(QPainter.RenderHint.TextAntialiasing)
    mark(painter, 42, 6, 36)
    font = QFont("DejaVu Sans")
    font.setPixelSize(15)
    font.setBold(True)
    painter.setFont(font)
    painter.setPen(QColor("#C8CDD2"))
    painter.drawText(QRectF(0, 48, 120, 24), Qt.AlignmentFlag.AlignCenter, "Vendrel")
    painter.end()
    return image


def main():
    app = QGuiApplication(sys.argv)  # fonts need it
    os.makedirs(OUT, exist_ok=True)
    save(bar_piece(64, BAR_HEIGHT, 0), "bar_back.bmp")
    for look in ("up", "over", "down", "disable"):
        save(button_sheet(look), f"bar_buttons_{look}.bmp")
    save(channel(False), "slider_channel.bmp")
    save(channel(True), "slider_channel_played.bmp")
    save(thumb(False), "slider_thumb.bmp")
    save(thumb(True), "slider_thumb_dragged.bmp")
    save(logo(), "logo.bmp")
    del app


if __name__ == "__main__":
    main()
