// The empty screen's particle animation, without a display: 320 glowing
// particles bouncing inside a slowly turning cube, drawn toward the mouse
// pointer, and the frame-rate adaptation that thins the swarm on a slow
// machine.
//
// Cube space has its walls at distance 1 from the centre; velocities are per
// step. The random numbers come from one Rand15 generator that lives as long
// as the view (seeded with 1), so a restart continues its sequence and a test
// can predict a swarm. Times are steady-clock seconds, passed in so that the
// adaptation can be tested without waiting. User-interface thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "processing/rand15.h"

namespace zandrel {

inline constexpr int kParticleCount = 320;
inline constexpr int kAnimationTimerId = 2;
inline constexpr int kAnimationIntervalMs = 33;
inline constexpr float kAnimationPhaseStep = 0.01f;
inline constexpr float kGlowDecay = 0.92f;
// The adaptation: below 15 frames per second over a 0.5 s window, drop 20
// particles, never going below 20.
inline constexpr double kAdaptWindowSeconds = 0.5;
inline constexpr double kAdaptMinimumRate = 15.0;
inline constexpr int kAdaptDrop = 20;
inline constexpr int kAdaptMinimumParticles = 20;

struct Particle {
  float x = 0, y = 0, z = 0;     // position in cube space
  float vx = 0, vy = 0, vz = 0;  // velocity per step
  uint32_t colour = 0xFF000000;  // ARGB, alpha 0xFF
  float glow = 0;                // 0..1: 1 on hitting a wall, x 0.92 every step
};

// The pointer in client pixels, when it lies inside the client rectangle.
struct PointerPosition {
  double x = 0;
  double y = 0;
};

struct ParticleAnimation {
  std::vector<Particle> particles;
  float animationPhase = 0;
  // Cube rotation of the last step (yaw a, pitch b and their cosines and sines).
  float cubeYaw = 0, cubePitch = 0;
  float cubeCosYaw = 1, cubeSinYaw = 0, cubeCosPitch = 1, cubeSinPitch = 0;
  // The frame-rate adaptation's measuring window.
  double lastAnimationTick = 0;  // seconds
  int animationFrames = 0;
  double animationElapsed = 0;  // seconds
  bool adaptParticles = false;
  Rand15 random{1};
};

// A new swarm of 320 particles (nine draws each: x, y, z, vx, vy, vz, blue,
// green, red), the rotation reset and the adaptation restarted at |now|.
void InitParticles(ParticleAnimation& a, double now);

// One simulation step at the current animationPhase in a client of |width|
// x |height| pixels: rotation, attraction to |pointer| (none when unset),
// swirl, motion and the bounces off the six walls.
void UpdateParticles(ParticleAnimation& a, std::optional<PointerPosition> pointer, int width, int height);

// The animation goes on at |now| after a pause (its view was hidden): the
// frame-rate measure starts a new window, so that the time away does not
// count as one slow frame and thin the swarm.
void ResumeAnimation(ParticleAnimation& a, double now);

// One tick of the 33 ms timer at |now|: the adaptation (while it is on),
// then the phase advance and one step.
void AnimationTick(ParticleAnimation& a, double now, std::optional<PointerPosition> pointer, int width, int height);

// Where a particle is drawn in a client of |width| x |height| pixels.
struct ParticleSprite {
  float x = 0, y = 0;      // screen position
  float depth = 0;         // D: larger is nearer
  float brightness = 0;    // 0..1, deep particles 0
  float size = 0;          // glow size factor, 0.2..4
  bool visible = false;    // false for a particle at or behind the camera
};
// The projection of particle |p| at the last step's rotation. A particle
// whose distance to the camera (c - D) is 0.05 or less would be projected
// to infinity or mirrored: it is not visible.
ParticleSprite ProjectParticle(const ParticleAnimation& a, const Particle& p, int width, int height);

// The glow's six circles, from 30 g down to 10 g in diameter: the diameter
// and alpha of circle |i| (0..5) for glow size |g| and glow |glow|; a circle
// with a diameter of 1 or less, or an alpha of 0, is not drawn.
struct GlowCircle {
  float diameter = 0;
  int alpha = 0;
};
GlowCircle GlowCircleAt(int i, float g, float glow);

// The drop hint's colour: the colour of the rearmost visible particle mixed
// with grey by its glow (grey 0xFF808080 when none is visible).
uint32_t DropHintColour(const ParticleAnimation& a, int width, int height);

// The steady clock now, in seconds.
double SteadySeconds();

}  // namespace zandrel
