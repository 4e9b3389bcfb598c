// 4 x 4 single-precision matrices for the drawable tree's transforms.
//
// A point is a row vector multiplied from the left, so row 3 holds the
// translation. Angles are unsigned 16-bit: 65536 is one full turn.
#pragma once

#include <array>
#include <cstdint>

namespace kestrel {

struct Matrix4 {
    float m[4][4];
    static Matrix4 Identity();
};

struct PointF {
    float x = 0, y = 0, z = 0;
};

struct Point16 {
    std::int16_t x = 0, y = 0;
    friend bool operator==(const Point16&, const Point16&) = default;
};

// The process-wide stack of 128 saved matrices (main thread only).
inline constexpr int kMatrixStackDepth = 128;

// Saves M; false (with an assertion report) when the stack is full.
bool MatrixPush(const Matrix4& M);
// Restores M from the last push; false (with an assertion report) when empty.
bool MatrixPop(Matrix4& M);
int MatrixStackDepth();

void MatrixTranslate(Matrix4& M, float x, float y, float z);
void MatrixRotateX(Matrix4& M, std::uint16_t angle);
void MatrixRotateY(Matrix4& M, std::uint16_t angle);
void MatrixRotateZ(Matrix4& M, std::uint16_t angle);
// Rotates about y by ay, then about x by ax, then about z by az.
void MatrixRotate(Matrix4& M, std::uint16_t ax, std::uint16_t ay, std::uint16_t az);
void MatrixScale(Matrix4& M, float sx, float sy, float sz);
// Each coordinate is truncated toward zero (and held to the 16-bit range).
Point16 MatrixTransformPoint(const Matrix4& M, const PointF& point);

} // namespace kestrel
