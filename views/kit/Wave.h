#pragma once

#include <QByteArray>
#include <QColor>
#include <QRectF>
#include <optional>
#include <vector>

class QPainter;

// Waveform peaks (one byte per 1/20 s, 0 silent to 255 loudest) drawn as bars 1.3 points
// wide every 2 points across `in`; `from` and `to` are seconds counted from the first
// byte, so the caller picks which stretch fills the rectangle. A column whose time falls
// outside the bytes stays empty; every other bar is at least 1 point high.
std::vector<QRectF> waveBars(const std::optional<QByteArray>& peaks, double from, double to, const QRectF& in);
// The bars filled in `colour` at opacity 0.32.
void drawWaveBars(QPainter& painter, const std::vector<QRectF>& bars, const QColor& colour);
// The bars of `peaks`, as drawWaveBars fills them.
void drawWave(QPainter& painter, const std::optional<QByteArray>& peaks, double from, double to, const QRectF& in,
              const QColor& colour);
