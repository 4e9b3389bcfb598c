#include "core/matrix.h"

#include "core/report.h"

#include <cmath>
#include <memory>

namespace kestrel {

namespace {

struct MatrixStack {
    std::unique_ptr<Matrix4[]> entries = std::make_unique<Matrix4[]>(kMatrixStackDepth);
    int depth = 0;
};

MatrixStack& Stack()
{
    static MatrixStack stack;
    return stack;
}

// The angle in radians, computed in single precision with the single-precision
// pi, so that a quarter turn's cosine is the tiny negative number it is there.
void SinCos(std::uint16_t angle, float& s, float& c)
{
    constexpr float kPi = 3.14159265358979323846f;
    const float theta = static_cast<float>(angle) * (2.0f * kPi) / 65536.0f;
    s = std::sin(theta);
    c = std::cos(theta);
}

// row a' = c * row a + s * row b; row b' = c * row b - s * row a.
void RotateRows(Matrix4& M, int a, int b, std::uint16_t angle)
{
    float s, c;
    SinCos(angle, s, c);
    for (int col = 0; col < 4; ++col) {
        const float ra = M.m[a][col];
        const float rb = M.m[b][col];
        M.m[a][col] = c * ra + s * rb;
        M.m[b][col] = c * rb - s * ra;
    }
}

std::int16_t TruncateTo16(float value)
{
    if (std::isnan(value))
        return 0;
    if (value <= -32769.0f)
        return INT16_MIN;
    if (value >= 32768.0f)
        return INT16_MAX;
    return static_cast<std::int16_t>(value);
}

} // namespace

Matrix4 Matrix4::Identity()
{
    Matrix4 m{};
    for (int i = 0; i < 4; ++i)
        m.m[i][i] = 1.0f;
    return m;
}

bool MatrixPush(const Matrix4& M)
{
    MatrixStack& stack = Stack();
    if (stack.depth >= kMatrixStackDepth) {
        AssertReport("depth < 128", "misc", __LINE__, "matrix stack overflow");
        return false;
    }
    stack.entries[stack.depth++] = M;
    return true;
}

bool MatrixPop(Matrix4& M)
{
    MatrixStack& stack = Stack();
    if (stack.depth <= 0) {
        AssertReport("depth > 0", "misc", __LINE__, "matrix stack underflow");
        return false;
    }
    M = stack.entries[--stack.depth];
    return true;
}

int MatrixStackDepth()
{
    return Stack().depth;
}

void MatrixTranslate(Matrix4& M, float x, float y, float z)
{
    for (int col = 0; col < 4; ++col)
        M.m[3][col] += x * M.m[0][col] + y * M.m[1][col] + z * M.m[2][col];
}

void MatrixRotateX(Matrix4& M, std::uint16_t angle)
{
    RotateRows(M, 1, 2, angle);
}

void MatrixRotateY(Matrix4& M, std::uint16_t angle)
{
    RotateRows(M, 2, 0, angle);
}

void MatrixRotateZ(Matrix4& M, std::uint16_t angle)
{
    RotateRows(M, 0, 1, angle);
}

void MatrixRotate(Matrix4& M, std::uint16_t ax, std::uint16_t ay, std::uint16_t az)
{
    MatrixRotateY(M, ay);
    MatrixRotateX(M, ax);
    MatrixRotateZ(M, az);
}

void MatrixScale(Matrix4& M, float sx, float sy, float sz)
{
    for (int row = 0; row < 3; ++row) {
        M.m[row][0] *= sx;
        M.m[row][1] *= sy;
        M.m[row][2] *= sz;
    }
}

Point16 MatrixTransformPoint(const Matrix4& M, const PointF& p)
{
    const float x = p.x * M.m[0][0] + p.y * M.m[1][0] + p.z * M.m[2][0] + M.m[3][0];
    const float y = p.x * M.m[0][1] + p.y * M.m[1][1] + p.z * M.m[2][1] + M.m[3][1];
    return {TruncateTo16(x), TruncateTo16(y)};
}

} // namespace kestrel
