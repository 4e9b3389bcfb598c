#include "core/exception.h"
#include "core/matrix.h"
#include "platform/headless/headless_platform.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(Matrix, QuarterTurnCosineTruncatesToZero)
{
    Matrix4 m = Matrix4::Identity();
    MatrixRotateZ(m, 16384);
    // The single-precision quarter turn's cosine is a tiny negative number.
    EXPECT_LT(m.m[0][0], 0.0f);
    EXPECT_GT(m.m[0][0], -1e-6f);
    EXPECT_EQ(MatrixTransformPoint(m, {1, 0, 0}), (Point16{0, 1}));
}

TEST(Matrix, RotationsMoveTheUnitAxes)
{
    struct Case {
        void (*rotate)(Matrix4&, std::uint16_t);
        std::uint16_t angle;
        PointF in;
        Point16 out;
    };
    const Case cases[] = {
        {MatrixRotateZ, 32768, {100, 0, 0}, {-100, 0}},
        {MatrixRotateZ, 16384, {0, 100, 0}, {-100, 0}},
        {MatrixRotateX, 16384, {0, 100, 0}, {0, 0}},  // y turns into z
        {MatrixRotateX, 16384, {0, 0, 100}, {0, -100}}, // z turns into -y
        {MatrixRotateY, 16384, {100, 0, 0}, {0, 0}},  // x turns into -z
        {MatrixRotateY, 16384, {0, 0, 100}, {100, 0}}, // z turns into x
    };
    for (const Case& c : cases) {
        Matrix4 m = Matrix4::Identity();
        c.rotate(m, c.angle);
        EXPECT_EQ(MatrixTransformPoint(m, c.in), c.out) << c.angle << " " << c.in.x << "," << c.in.y << "," << c.in.z;
    }
}

TEST(Matrix, TranslateUsesTheMatrixOwnAxesAndScaleLeavesTranslation)
{
    Matrix4 m = Matrix4::Identity();
    MatrixTranslate(m, 10, 20, 0);
    MatrixScale(m, 2, 3, 1);
    EXPECT_EQ(MatrixTransformPoint(m, {5, 5, 0}), (Point16{20, 35}));
    // After a scale, a translation moves in scaled units.
    MatrixTranslate(m, 1, 1, 0);
    EXPECT_EQ(MatrixTransformPoint(m, {0, 0, 0}), (Point16{12, 23}));
}

TEST(Matrix, RotateAppliesYThenXThenZ)
{
    Matrix4 combined = Matrix4::Identity();
    MatrixRotate(combined, 1000, 2000, 3000);
    Matrix4 stepwise = Matrix4::Identity();
    MatrixRotateY(stepwise, 2000);
    MatrixRotateX(stepwise, 1000);
    MatrixRotateZ(stepwise, 3000);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(combined.m[r][c], stepwise.m[r][c]);
}

TEST(Matrix, TransformTruncatesTowardZeroAndHoldsTheRange)
{
    Matrix4 m = Matrix4::Identity();
    EXPECT_EQ(MatrixTransformPoint(m, {-1.75f, 1.75f, 0}), (Point16{-1, 1}));
    EXPECT_EQ(MatrixTransformPoint(m, {1e9f, -1e9f, 0}), (Point16{32767, -32768}));
}

TEST(MatrixStack, PushAndPopRestoreAndOverflowIsRejected)
{
    platform::HeadlessPlatform platform;
    platform.SetMessageBoxPolicy(platform::HeadlessPlatform::AlwaysAnswer(MessageBoxAnswer::Ignore));
    platform::ScopedMessageBoxHost host(platform);
    test::DebugCapture capture;

    Matrix4 m = Matrix4::Identity();
    ASSERT_EQ(MatrixStackDepth(), 0);
    for (int i = 0; i < kMatrixStackDepth; ++i) {
        m.m[3][0] = static_cast<float>(i);
        ASSERT_TRUE(MatrixPush(m));
    }
    EXPECT_FALSE(MatrixPush(m));
    EXPECT_EQ(MatrixStackDepth(), kMatrixStackDepth);
    for (int i = kMatrixStackDepth - 1; i >= 0; --i) {
        ASSERT_TRUE(MatrixPop(m));
        EXPECT_EQ(m.m[3][0], static_cast<float>(i));
    }
    const Matrix4 before = m;
    EXPECT_FALSE(MatrixPop(m));
    EXPECT_EQ(m.m[3][0], before.m[3][0]);
    EXPECT_EQ(MatrixStackDepth(), 0);
    ASSERT_EQ(platform.MessageBoxLog().size(), 2u); // one report for each rejection
    EXPECT_EQ(platform.MessageBoxLog()[0].request.caption, u"KESTREL");
}

} // namespace
} // namespace kestrel
