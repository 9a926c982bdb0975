#include "view/model/particles.h"

#include <gmock/gmock.h>

#include <cmath>

namespace zandrel {
namespace {

TEST(InitParticlesTest, ThreeHundredTwentyParticlesFromTheSeededGenerator) {
  ParticleAnimation a;
  a.cubeYaw = 3;
  a.cubeCosYaw = 0.5f;
  InitParticles(a, 10.0);
  ASSERT_EQ(a.particles.size(), 320u);
  // From state 1 the generator gives 41, 18467, 6334, 26500, 19169, 15724,
  // then 11478, 29358, 26962 for blue, green and red.
  const Particle& first = a.particles[0];
  EXPECT_FLOAT_EQ(first.x, (41.0f / 32767 - 0.5f) * 0.5f);
  EXPECT_FLOAT_EQ(first.y, (18467.0f / 32767 - 0.5f) * 0.5f);
  EXPECT_FLOAT_EQ(first.vz, (15724.0f / 32767 - 0.5f) * 0.1f);
  EXPECT_EQ(first.colour, 0xFFF7A36Cu);  // red 100 + 147, green 100 + 63, blue 100 + 8
  EXPECT_EQ(first.glow, 0.0f);
  for (const Particle& p : a.particles) {
    EXPECT_LE(std::abs(p.x), 0.25f);
    EXPECT_LE(std::abs(p.vy), 0.05f);
    for (int shift : {0, 8, 16}) {
      EXPECT_GE((p.colour >> shift) & 0xFF, 100u);
      EXPECT_LE((p.colour >> shift) & 0xFF, 254u);
    }
  }
  // Rotation reset, adaptation restarted.
  EXPECT_EQ(a.cubeYaw, 0.0f);
  EXPECT_EQ(a.cubeCosYaw, 1.0f);
  EXPECT_TRUE(a.adaptParticles);
  EXPECT_EQ(a.lastAnimationTick, 10.0);
  EXPECT_EQ(a.animationFrames, 0);
}

TEST(InitParticlesTest, RestartContinuesTheSequence) {
  ParticleAnimation a;
  InitParticles(a, 0);
  const Particle first = a.particles[0];
  a.particles.resize(40);
  InitParticles(a, 1);
  ASSERT_EQ(a.particles.size(), 320u);
  EXPECT_NE(a.particles[0].x, first.x);
}

TEST(AnimationTickTest, PhaseAdvancesByOneHundredthPerTick) {
  ParticleAnimation a;
  InitParticles(a, 0);
  for (int i = 1; i <= 3; ++i) AnimationTick(a, i * 0.033, std::nullopt, 800, 500);
  EXPECT_FLOAT_EQ(a.animationPhase, 0.03f);
  EXPECT_FLOAT_EQ(a.cubeYaw, 0.03f);
  EXPECT_FLOAT_EQ(a.cubePitch, 0.5f * std::sin(0.4f * 0.03f));
  EXPECT_EQ(kAnimationIntervalMs, 33);
}

TEST(AnimationTickTest, SlowFramesThinTheSwarmByTwentyDownToTwenty) {
  struct Case {
    size_t before;
    double secondsPerTick;
    int ticks;
    size_t after;
    bool adaptAfter;
  };
  const Case cases[] = {
      {320, 0.125, 4, 300, true},    // 8 fps over 0.5 s: 20 fewer
      {320, 0.125, 8, 280, true},    // two windows
      {320, 0.125, 3, 320, true},    // the window is not full yet
      {320, 0.0625, 8, 320, true},   // 16 fps: kept
      {40, 0.125, 4, 20, false},     // down to 20, and the adaptation ends
      {30, 0.125, 4, 20, false},     // fewer than 40 leaves exactly 20
      {21, 0.0625, 1, 21, true},     // 21 still adapts
      {20, 0.0625, 1, 20, false},    // fewer than 21: off at once
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.before << " particles, " << c.secondsPerTick << " s per tick");
    ParticleAnimation a;
    InitParticles(a, 100.0);
    a.particles.resize(c.before);
    for (int i = 1; i <= c.ticks; ++i) AnimationTick(a, 100.0 + i * c.secondsPerTick, std::nullopt, 800, 500);
    EXPECT_EQ(a.particles.size(), c.after);
    EXPECT_EQ(a.adaptParticles, c.adaptAfter);
  }
  // Once off, slow frames no longer thin.
  ParticleAnimation a;
  InitParticles(a, 0);
  a.particles.resize(20);
  for (int i = 1; i <= 20; ++i) AnimationTick(a, i * 0.5, std::nullopt, 800, 500);
  EXPECT_EQ(a.particles.size(), 20u);
}

// A view hidden for ten seconds resumes at full rate: the time away is not
// one slow frame (which, counted, would thin the swarm by twenty).
TEST(AnimationTickTest, APauseDoesNotThinTheSwarm) {
  for (const bool resumed : {false, true}) {
    SCOPED_TRACE(resumed ? "resumed" : "not resumed");
    ParticleAnimation a;
    InitParticles(a, 100.0);
    double now = 100.0;
    for (int i = 0; i < 10; ++i) AnimationTick(a, now += 0.033, std::nullopt, 800, 500);
    now += 10.0;
    if (resumed) ResumeAnimation(a, now);
    for (int i = 0; i < 30; ++i) AnimationTick(a, now += 0.033, std::nullopt, 800, 500);
    EXPECT_EQ(a.particles.size(), resumed ? 320u : 300u);
    EXPECT_TRUE(a.adaptParticles);
  }
}

TEST(UpdateParticlesTest, GlowFadesBelowATenthAfterTwentyEightSteps) {
  ParticleAnimation a;
  a.particles = {Particle{.glow = 1.0f}};  // at rest in the centre: no wall is reached
  for (int step = 1; step <= 28; ++step) {
    UpdateParticles(a, std::nullopt, 800, 500);
    if (step == 27) {
      EXPECT_GE(a.particles[0].glow, 0.1f);
    }
  }
  EXPECT_LT(a.particles[0].glow, 0.1f);
  EXPECT_NEAR(a.particles[0].glow, std::pow(0.92f, 28.0f), 1e-6);
}

TEST(UpdateParticlesTest, WallsReflectAndLightTheParticle) {
  ParticleAnimation a;
  // At phase 0 the first wall is x = 1; the particle crosses it by 0.04.
  a.particles = {Particle{.x = 0.98f, .vx = 0.15f}};
  UpdateParticles(a, std::nullopt, 800, 500);
  const Particle& p = a.particles[0];
  EXPECT_FLOAT_EQ(p.x, 1.0f);
  EXPECT_FLOAT_EQ(p.glow, 1.0f);
  // Reflected with 0.65 of the bounce: v - 1.3 v = -0.3 v.
  EXPECT_NEAR(p.vx, -0.3f * 0.15f, 1e-3);
}

TEST(UpdateParticlesTest, PointerAttractsOnlyWhenInside) {
  ParticleAnimation a;
  a.particles = {Particle{}};
  UpdateParticles(a, std::nullopt, 800, 500);
  EXPECT_EQ(a.particles[0].vx, 0.0f);
  // The pointer at the top, in the middle: the target (0, -1, 0) at phase
  // 0, so the particle is pulled up by 0.04 x 0.4.
  UpdateParticles(a, PointerPosition{400, 0}, 800, 500);
  EXPECT_NEAR(a.particles[0].vy, -0.016f, 1e-6);
  EXPECT_EQ(a.particles[0].vx, 0.0f);
  EXPECT_EQ(a.particles[0].vz, 0.0f);
}

TEST(ProjectParticleTest, ParticleAtTheCameraIsSkippedNotProjectedToInfinity) {
  ParticleAnimation a;
  a.animationPhase = 51.5f;  // about 170 s in: the camera at its nearest, c = 1.1
  UpdateParticles(a, std::nullopt, 800, 500);
  const float c = 1.4f + 0.3f * std::sin(a.animationPhase * 3.14159f);
  // Depth D = cos(a) z + sin(a) x; put the particle at depth c and just short of it.
  auto atDepth = [&](float d) { return Particle{.x = a.cubeSinYaw * d, .z = a.cubeCosYaw * d}; };
  for (float d : {c, c - 0.049f, c + 0.3f}) {
    const ParticleSprite s = ProjectParticle(a, atDepth(d), 800, 500);
    EXPECT_FALSE(s.visible) << d;
  }
  const ParticleSprite near = ProjectParticle(a, atDepth(c - 0.06f), 800, 500);
  EXPECT_TRUE(near.visible);
  EXPECT_TRUE(std::isfinite(near.x) && std::isfinite(near.y));
  EXPECT_EQ(near.size, 4.0f);
}

TEST(ProjectParticleTest, CentreAndScaleOfTheProjection) {
  ParticleAnimation a;
  UpdateParticles(a, std::nullopt, 800, 500);  // phase 0: no rotation, camera at 1.4
  const ParticleSprite centre = ProjectParticle(a, Particle{}, 800, 500);
  EXPECT_FLOAT_EQ(centre.x, 400);
  EXPECT_FLOAT_EQ(centre.y, 250);
  EXPECT_FLOAT_EQ(centre.size, 1.0f);
  EXPECT_FLOAT_EQ(centre.brightness, 0.5f);
  // x = 0.5 at depth 0: 0.5 x 125 px right of the centre.
  EXPECT_FLOAT_EQ(ProjectParticle(a, Particle{.x = 0.5f}, 800, 500).x, 462.5f);
}

TEST(GlowCircleTest, SixCirclesFromThirtyToTenTimesTheSize) {
  EXPECT_FLOAT_EQ(GlowCircleAt(0, 1, 1).diameter, 30);
  EXPECT_EQ(GlowCircleAt(0, 1, 1).alpha, 26);
  EXPECT_FLOAT_EQ(GlowCircleAt(5, 1, 1).diameter, 10);
  EXPECT_EQ(GlowCircleAt(5, 1, 1).alpha, 0);  // the smallest never shows
  EXPECT_EQ(GlowCircleAt(1, 1, 0.5f).alpha, 10);  // 0.8 x 26.67 x 0.5
  EXPECT_FLOAT_EQ(GlowCircleAt(0, 0.2f, 1).diameter, 6);
}

TEST(DropHintColourTest, GreyAtRestAndTheRearmostParticleWhenItGlows) {
  ParticleAnimation a;
  UpdateParticles(a, std::nullopt, 800, 500);
  EXPECT_EQ(DropHintColour(a, 800, 500), 0xFF808080u);  // no particles
  a.particles = {Particle{.z = 0.5f, .colour = 0xFFFF0000, .glow = 1},
                 Particle{.z = -0.5f, .colour = 0xFF00FF00, .glow = 0}};
  EXPECT_EQ(DropHintColour(a, 800, 500), 0xFF808080u);  // the rearmost does not glow
  a.particles[1].glow = 0.5f;
  EXPECT_EQ(DropHintColour(a, 800, 500), 0xFF40BF40u);  // halfway from grey to green
}

}  // namespace
}  // namespace zandrel
