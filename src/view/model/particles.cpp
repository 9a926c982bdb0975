#include "view/model/particles.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace zandrel {
namespace {

constexpr float kTimeStep = 0.4f;
constexpr float kSwirl = 0.02f;
constexpr float kAttraction = 0.04f;
constexpr float kBounce = 0.65f;
// A particle nearer the camera than this would be projected through it.
constexpr float kMinimumCameraDistance = 0.05f;

struct Vec3 {
  float x, y, z;
};
float Dot(const Vec3& a, float x, float y, float z) { return a.x * x + a.y * y + a.z * z; }

float Unit(Rand15& r) { return static_cast<float>(r.Next()) / Rand15::kMax - 0.5f; }

}  // namespace

void InitParticles(ParticleAnimation& a, double now) {
  a.particles.clear();
  a.particles.reserve(kParticleCount);
  for (int i = 0; i < kParticleCount; ++i) {
    Particle p;
    p.x = Unit(a.random) * 0.5f;
    p.y = Unit(a.random) * 0.5f;
    p.z = Unit(a.random) * 0.5f;
    p.vx = Unit(a.random) * 0.1f;
    p.vy = Unit(a.random) * 0.1f;
    p.vz = Unit(a.random) * 0.1f;
    const auto channel = [&] { return static_cast<uint32_t>(100 + a.random.Next() % 155); };
    const uint32_t blue = channel();
    const uint32_t green = channel();
    const uint32_t red = channel();
    p.colour = 0xFF000000u | (red << 16) | (green << 8) | blue;
    p.glow = 0;
    a.particles.push_back(p);
  }
  a.cubeYaw = a.cubePitch = 0;
  a.cubeSinYaw = a.cubeSinPitch = 0;
  a.cubeCosYaw = a.cubeCosPitch = 1;
  a.lastAnimationTick = now;
  a.animationFrames = 0;
  a.animationElapsed = 0;
  a.adaptParticles = true;
}

void UpdateParticles(ParticleAnimation& a, std::optional<PointerPosition> pointer, int width, int height) {
  a.cubeYaw = a.animationPhase;
  a.cubePitch = 0.5f * std::sin(0.4f * a.cubeYaw);
  const float ca = a.cubeCosYaw = std::cos(a.cubeYaw);
  const float sa = a.cubeSinYaw = std::sin(a.cubeYaw);
  const float cb = a.cubeCosPitch = std::cos(a.cubePitch);
  const float sb = a.cubeSinPitch = std::sin(a.cubePitch);

  const Vec3 u{ca * cb, ca * sb, sa};
  const Vec3 v{-sb, cb, 0};
  const Vec3 w{-sa * cb, -sa * sb, ca};
  const Vec3 walls[6] = {u, {-u.x, -u.y, -u.z}, v, {-v.x, -v.y, -v.z}, w, {-w.x, -w.y, -w.z}};

  std::optional<Vec3> target;
  if (pointer && width > 0 && height > 0) {
    const auto mx = static_cast<float>(2.0 * pointer->x / width - 1.0);
    const auto my = static_cast<float>(2.0 * pointer->y / height - 1.0);
    const float t = my * sb + mx * cb;
    target = Vec3{t * ca + std::abs(mx) * sa, my * cb - mx * sb, std::abs(mx) * ca - t * sa};
  }

  for (Particle& p : a.particles) {
    p.glow *= kGlowDecay;
    if (target) {
      const float dx = target->x - p.x, dy = target->y - p.y, dz = target->z - p.z;
      const float r = std::sqrt(dx * dx + dy * dy + dz * dz);
      if (r > 0.01f) {
        const float k = kAttraction * kTimeStep / r;
        p.vx += dx * k;
        p.vy += dy * k;
        p.vz += dz * k;
      }
    }
    const float vxBefore = p.vx;
    p.vx = p.vx + p.vz * kSwirl * kTimeStep;
    p.vz = p.vz - vxBefore * kSwirl * kTimeStep;
    p.x += p.vx * kTimeStep;
    p.y += p.vy * kTimeStep;
    p.z += p.vz * kTimeStep;
    for (const Vec3& n : walls) {
      const float s = Dot(n, p.x, p.y, p.z) - 1.0f;
      if (s <= 0) continue;
      // Back onto the wall, reflected, with part of the normal speed lost.
      p.x -= s * n.x;
      p.y -= s * n.y;
      p.z -= s * n.z;
      const float k = 2.0f * kBounce * Dot(n, p.vx, p.vy, p.vz);
      p.vx -= k * n.x;
      p.vy -= k * n.y;
      p.vz -= k * n.z;
      p.glow = 1.0f;
    }
  }
}

void ResumeAnimation(ParticleAnimation& a, double now) {
  a.lastAnimationTick = now;
  a.animationFrames = 0;
  a.animationElapsed = 0;
}

void AnimationTick(ParticleAnimation& a, double now, std::optional<PointerPosition> pointer, int width, int height) {
  if (a.adaptParticles) {
    a.animationElapsed += now - a.lastAnimationTick;
    a.lastAnimationTick = now;
    ++a.animationFrames;
    if (a.animationElapsed >= kAdaptWindowSeconds) {
      const double rate = a.animationFrames / a.animationElapsed;
      const auto count = static_cast<int>(a.particles.size());
      if (rate < kAdaptMinimumRate && count > kAdaptMinimumParticles)
        a.particles.resize(static_cast<size_t>(std::max(kAdaptMinimumParticles, count - kAdaptDrop)));
      a.animationFrames = 0;
      a.animationElapsed = 0;
    }
    if (a.particles.size() < static_cast<size_t>(kAdaptMinimumParticles + 1)) a.adaptParticles = false;
  }
  a.animationPhase += kAnimationPhaseStep;
  UpdateParticles(a, pointer, width, height);
}

ParticleSprite ProjectParticle(const ParticleAnimation& a, const Particle& p, int width, int height) {
  ParticleSprite s;
  const float k = static_cast<float>(std::min(width, height)) * 0.25f;
  const float c = 1.4f + 0.3f * std::sin(a.animationPhase * 3.14159f);
  const float ca = a.cubeCosYaw, sa = a.cubeSinYaw, cb = a.cubeCosPitch, sb = a.cubeSinPitch;
  s.depth = ca * p.z + sa * p.x;
  s.brightness = std::clamp((s.depth + 1.5f) / 3.0f, 0.0f, 1.0f);
  if (c - s.depth <= kMinimumCameraDistance) return s;
  const float f = c / (c - s.depth);
  s.size = std::clamp(f, 0.2f, 4.0f);
  const float xr = ca * p.x - sa * p.z;
  s.x = (xr * cb - sb * p.y) * k * f + static_cast<float>(width / 2);
  s.y = (xr * sb + cb * p.y) * k * f + static_cast<float>(height / 2);
  s.visible = true;
  return s;
}

GlowCircle GlowCircleAt(int i, float g, float glow) {
  GlowCircle circle;
  circle.diameter = 30.0f * g - 20.0f * g * static_cast<float>(i) / 5.0f;
  circle.alpha = static_cast<int>((1.0f - static_cast<float>(i) / 5.0f) * 26.666666f * glow);
  return circle;
}

uint32_t DropHintColour(const ParticleAnimation& a, int width, int height) {
  const Particle* rearmost = nullptr;
  float smallest = 100.0f;
  for (const Particle& p : a.particles) {
    const ParticleSprite s = ProjectParticle(a, p, width, height);
    if (!s.visible) continue;
    if (s.depth < smallest) {
      smallest = s.depth;
      rearmost = &p;
    }
  }
  if (!rearmost) return 0xFF808080u;
  const float gamma = std::clamp(rearmost->glow, 0.0f, 1.0f);
  const auto mix = [&](int shift) {
    const auto channel = static_cast<float>((rearmost->colour >> shift) & 0xFF);
    return static_cast<uint32_t>(channel * gamma + 128.0f * (1.0f - gamma)) << shift;
  };
  return 0xFF000000u | mix(16) | mix(8) | mix(0);
}

double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace zandrel
