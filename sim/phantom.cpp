// Analytic phantoms. Each returns a line integral of attenuation; the
// renderer turns it into transmitted signal with exp(-mu).
#include "phantom.h"

#include <algorithm>
#include <cmath>

namespace tvxsim {

namespace {

float clamp01(float x) { return x < 0 ? 0 : (x > 1 ? 1 : x); }

float smoothstep(float e0, float e1, float x) {
    const float t = clamp01((x - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}

// 1 inside [lo, hi], falling off softly over `soft` on both sides.
float band(float x, float lo, float hi, float soft) {
    return smoothstep(lo - soft, lo + soft, x) * (1 - smoothstep(hi - soft, hi + soft, x));
}

// Soft inside test of an ellipse.
float ellipse(float x, float y, float cx, float cy, float rx, float ry, float soft) {
    const float dx = (x - cx) / rx, dy = (y - cy) / ry;
    const float r = std::sqrt(dx * dx + dy * dy);
    return 1 - smoothstep(1 - soft, 1 + soft, r);
}

// Soft ring of an ellipse outline of the given relative thickness.
float ellipse_ring(float x, float y, float cx, float cy, float rx, float ry, float thickness) {
    const float dx = (x - cx) / rx, dy = (y - cy) / ry;
    const float r = std::sqrt(dx * dx + dy * dy);
    return band(r, 1 - thickness, 1, thickness * 0.5f);
}

// Distance from (x, y) to the segment (x0, y0)-(x1, y1).
float segment_distance(float x, float y, float x0, float y0, float x1, float y1) {
    const float dx = x1 - x0, dy = y1 - y0;
    float t = ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy);
    t = clamp01(t);
    const float ex = x - (x0 + t * dx), ey = y - (y0 + t * dy);
    return std::sqrt(ex * ex + ey * ey);
}

// Teeth from the midline outwards: central incisor .. third molar.
constexpr float kToothWidth[8] = {0.80f, 0.70f, 0.85f, 0.75f, 0.75f, 1.10f, 1.05f, 0.95f};
constexpr int kToothType[8] = {0, 0, 1, 2, 2, 3, 3, 3};
constexpr float kCrown[4] = {0.105f, 0.115f, 0.090f, 0.080f};
constexpr float kRoot[4] = {0.125f, 0.160f, 0.120f, 0.105f};
constexpr float kArchHalfWidth = 0.62f;

// One tooth in its own frame: s across (-1..1), d from the occlusal edge towards the apex.
float tooth(int type, float s, float d, float crown, float root) {
    if (d < 0 || d > crown + root) return 0;
    const float as = std::fabs(s);
    if (d <= crown) {
        // Crown: rounded at the biting edge, narrowing to the neck; enamel cap and shell.
        float hw;
        if (d < 0.25f * crown) {
            const float t = (0.25f * crown - d) / (0.25f * crown);
            hw = 0.92f * std::sqrt(1 - 0.65f * t * t);
        } else {
            hw = 0.92f - 0.20f * (d - 0.25f * crown) / (0.75f * crown);
        }
        const float inside = clamp01((hw - as) / 0.06f);
        if (inside <= 0) return 0;
        const bool enamel = d < 0.18f * crown || as > hw - 0.13f;
        float mu = enamel ? 1.9f : 1.25f;
        // Pulp chamber.
        const float pulp_w = type == 3 ? 0.36f : 0.16f;
        if (d > 0.5f * crown && as < pulp_w) mu -= 0.55f;
        return mu * inside;
    }
    const float t = (d - crown) / root;
    float inside, canal;
    if (type == 3 && t > 0.22f) {
        // Molars split into two roots.
        const float tt = (t - 0.22f) / 0.78f;
        const float hw = 0.30f * (1 - 0.4f * tt) * std::sqrt(1 - tt * tt * tt * tt);
        const float off = std::fabs(as - 0.42f);
        inside = clamp01((hw - off) / 0.06f);
        canal = off < 0.07f * (1 - tt) ? 1.f : 0.f;
    } else {
        // Roots taper and end in a rounded apex.
        const float hw = (type == 3 ? 0.72f : 0.66f) * (1 - 0.5f * t) * std::sqrt(1 - t * t * t * t);
        inside = clamp01((hw - as) / 0.06f);
        canal = type == 3 ? (t < 0.22f && as < 0.30f ? 1.f : 0.f) : (as < 0.10f * (1 - t) ? 1.f : 0.f);
    }
    return (1.15f - 0.5f * canal) * inside;
}

}  // namespace

PanoColumn pano_column(float u) {
    PanoColumn c;
    const float a = 2 * u - 1;
    const float aa = std::fabs(a);
    c.a = a;
    c.occlusal = 0.50f - 0.06f * a * a;
    c.palate = 0.30f - 0.04f * a * a;
    const float crest_up = c.occlusal - 0.045f, crest_lo = c.occlusal + 0.045f;
    c.maxilla = 1 - smoothstep(0.66f, 0.80f, aa);
    c.maxilla_bottom = crest_up - smoothstep(0.56f, 0.76f, aa) * (crest_up - c.palate - 0.02f);
    // Mandible: body, angle and ramus up to the coronoid process and the condyle.
    c.mandible = 1 - smoothstep(0.855f, 0.875f, aa);
    if (aa < 0.60f) {
        c.mandible_top = crest_lo;
    } else if (aa < 0.70f) {
        const float t = smoothstep(0.60f, 0.70f, aa);
        c.mandible_top = crest_lo + t * (0.27f - crest_lo);
    } else if (aa < 0.83f) {
        c.mandible_top = 0.27f + 0.06f * std::sin(3.14159265f * (aa - 0.70f) / 0.13f);
    } else {
        c.mandible_top = 0.27f - (0.27f - 0.19f) * smoothstep(0.83f, 0.845f, aa);
    }
    const float body = 0.86f - 0.11f * a * a;
    const float body_end = 0.86f - 0.11f * 0.70f * 0.70f;
    const float angle = clamp01((aa - 0.70f) / 0.17f);
    c.lower_border = aa < 0.70f ? body : body_end - 0.22f * angle * angle * angle;
    c.spine = smoothstep(0.88f, 0.95f, aa);
    c.sinus = band(aa, 0.20f, 0.58f, 0.05f);
    c.nasal = 1 - smoothstep(0.10f, 0.16f, aa);
    c.zygoma = band(aa, 0.52f, 0.86f, 0.04f);
    c.soft = 0.30f + 0.20f * (1 - a * a);
    c.texture = a * 41.f;
    if (aa < kArchHalfWidth) {
        float x = aa / kArchHalfWidth * 6.95f;
        int k = 0;
        while (k < 7 && x > kToothWidth[k]) {
            x -= kToothWidth[k];
            ++k;
        }
        c.tooth_type = kToothType[k];
        c.s = (x / kToothWidth[k]) * 2 - 1;
        // Slightly different crowns and roots for every tooth, the same each picture.
        const float var = 0.92f + 0.16f * std::fabs(std::sin(static_cast<float>(k * 7 + (a < 0 ? 3 : 0))));
        c.crown_up = kCrown[c.tooth_type] * var;
        c.root_up = kRoot[c.tooth_type] * (2 - var);
        c.crown_lo = kCrown[c.tooth_type] * (c.tooth_type == 0 ? 0.85f : 0.95f) * var;
        c.root_lo = kRoot[c.tooth_type] * (c.tooth_type == 0 ? 0.85f : 1.0f);
        c.tooth_density = 0.95f + 0.1f * var;
    }
    return c;
}

float pano_attenuation(const PanoColumn& c, float v) {
    float mu = c.soft;
    const float tex = 0.07f * std::sin(c.texture + v * 67.f) * std::sin(c.texture * 0.7f - v * 43.f);
    // Upper jaw: maxilla from the palate down to the alveolar crest, with the palate's bright band.
    if (c.maxilla > 0) {
        mu += c.maxilla * (0.50f + tex) * band(v, c.palate, c.maxilla_bottom, 0.015f);
        mu += c.maxilla * 0.65f * band(v, c.palate - 0.010f, c.palate + 0.010f, 0.006f) * (1 - c.nasal * 0.5f);
        // Air between tongue and palate.
        mu -= 0.18f * band(v, c.palate + 0.018f, c.palate + 0.040f, 0.008f) * (1 - smoothstep(0.45f, 0.6f, std::fabs(c.a)));
    }
    // Lower jaw: body and ramus, cortical lower and posterior borders, mandibular canal.
    if (c.mandible > 0) {
        mu += c.mandible * (0.60f + tex) * band(v, c.mandible_top, c.lower_border, 0.010f);
        mu += c.mandible * 0.75f * band(v, c.lower_border - 0.026f, c.lower_border, 0.006f);
        mu += 0.35f * band(std::fabs(c.a), 0.835f, 0.86f, 0.006f) * band(v, c.mandible_top, c.lower_border, 0.01f);
        mu -= c.mandible * 0.16f * band(v, c.lower_border - 0.085f, c.lower_border - 0.075f, 0.004f) *
              smoothstep(0.25f, 0.45f, std::fabs(c.a)) * (1 - smoothstep(0.68f, 0.74f, std::fabs(c.a)));
    }
    // Condyles in their fossae.
    const float aa = std::fabs(c.a);
    mu += 0.7f * ellipse(aa, v, 0.845f, 0.185f, 0.030f, 0.035f, 0.2f);
    // Maxillary sinuses (air) with their bright floor; nasal cavity with its septum.
    if (c.sinus > 0) {
        mu -= 0.30f * ellipse(aa, v, 0.39f, 0.20f, 0.17f, 0.075f, 0.15f);
        mu += 0.25f * ellipse_ring(aa, v, 0.39f, 0.20f, 0.17f, 0.075f, 0.08f) * smoothstep(0.19f, 0.23f, v);
    }
    if (c.nasal > 0) {
        mu -= 0.24f * ellipse(c.a, v, 0.0f, 0.17f, 0.12f, 0.12f, 0.15f);
        mu += 0.30f * band(c.a, -0.008f, 0.008f, 0.004f) * band(v, 0.06f, c.palate - 0.015f, 0.01f);
    }
    mu += 0.45f * c.zygoma * band(v, 0.20f, 0.245f, 0.01f);
    // Cervical spine ghosts at both edges: vertebral bodies and discs.
    if (c.spine > 0) mu += c.spine * (0.65f + 0.25f * std::cos(v * 6.2831853f * 5.5f)) * smoothstep(0.18f, 0.30f, v);
    // Teeth.
    if (c.tooth_type >= 0) {
        const float up = c.occlusal - 0.004f - v;
        if (up >= 0) mu += c.tooth_density * tooth(c.tooth_type, c.s, up, c.crown_up, c.root_up);
        const float lo = v - c.occlusal - 0.004f;
        if (lo >= 0) mu += c.tooth_density * tooth(c.tooth_type, c.s, lo, c.crown_lo, c.root_lo);
    }
    return mu;
}

namespace {

// Soft-tissue face profile: x of the skin surface by height, forehead to throat.
constexpr float kProfileY[] = {0.00f, 0.15f, 0.36f, 0.40f, 0.55f, 0.62f, 0.68f, 0.72f, 0.76f, 0.82f, 0.88f, 0.97f, 1.2f};
constexpr float kProfileX[] = {0.95f, 1.12f, 1.17f, 1.13f, 1.33f, 1.20f, 1.25f, 1.21f, 1.24f, 1.16f, 1.22f, 1.02f, 0.95f};

}  // namespace

CephRow ceph_row(float y) {
    CephRow r;
    r.y = y;
    const int n = static_cast<int>(sizeof kProfileY / sizeof kProfileY[0]);
    r.profile = y <= kProfileY[0] ? kProfileX[0] : kProfileX[n - 1];
    for (int i = 0; i + 1 < n; ++i) {
        if (y >= kProfileY[i] && y < kProfileY[i + 1]) {
            const float t = (y - kProfileY[i]) / (kProfileY[i + 1] - kProfileY[i]);
            r.profile = kProfileX[i] + t * (kProfileX[i + 1] - kProfileX[i]);
        }
    }
    return r;
}

float ceph_attenuation(const CephRow& row, float x) {
    const float y = row.y;
    // Head outline: cranium, face up to the skin profile, neck.
    const float cranium = ellipse(x, y, 0.62f, 0.37f, 0.53f, 0.33f, 0.02f);
    const float face = band(x, 0.50f, row.profile, 0.01f) * band(y, 0.30f, 1.0f, 0.02f);
    const float neck = band(x, 0.38f, 0.98f, 0.03f) * smoothstep(0.80f, 0.90f, y);
    const float head = std::max(cranium, std::max(face, neck));
    if (head <= 0) return 0;
    float mu = 0.55f * head;
    // Skull vault: thick bone shell and the brain behind it.
    mu += 0.45f * ellipse(x, y, 0.62f, 0.37f, 0.50f, 0.30f, 0.02f);
    mu += 0.95f * ellipse_ring(x, y, 0.62f, 0.37f, 0.50f, 0.30f, 0.06f);
    // Skull base from the sella down to the occiput, sella turcica, orbit, ear rods.
    mu += 0.45f * (1 - smoothstep(0.015f, 0.03f, segment_distance(x, y, 0.70f, 0.46f, 0.44f, 0.60f)));
    mu += 0.50f * ellipse_ring(x, y, 0.70f, 0.445f, 0.030f, 0.025f, 0.3f);
    mu += 0.40f * ellipse_ring(x, y, 1.02f, 0.40f, 0.065f, 0.060f, 0.25f);
    mu += 2.80f * ellipse(x, y, 0.60f, 0.50f, 0.020f, 0.020f, 0.2f);
    // Midface: maxilla with its sinus, nasal bone.
    mu += 0.50f * band(x, 0.86f, row.profile - 0.07f, 0.02f) * band(y, 0.46f, 0.67f, 0.015f);
    mu -= 0.30f * ellipse(x, y, 0.99f, 0.55f, 0.08f, 0.06f, 0.15f);
    mu += 0.45f * (1 - smoothstep(0.008f, 0.016f, segment_distance(x, y, 1.13f, 0.40f, 1.20f, 0.50f)));
    // Mandible: ramus, body and symphysis; its cortex bright.
    const float ramus = segment_distance(x, y, 0.77f, 0.50f, 0.80f, 0.84f);
    const float body = segment_distance(x, y, 0.80f, 0.84f, 1.12f, 0.92f);
    const float bone = std::min(ramus, body);
    mu += 0.85f * (1 - smoothstep(0.030f, 0.042f, bone));
    mu += 0.80f * ellipse(x, y, 1.12f, 0.855f, 0.045f, 0.075f, 0.1f);
    // Teeth: incisors tilted forward, premolars and molars along the occlusal plane.
    mu += 1.8f * (1 - smoothstep(0.012f, 0.020f, segment_distance(x, y, 1.135f, 0.615f, 1.175f, 0.725f)));
    mu += 1.8f * (1 - smoothstep(0.011f, 0.019f, segment_distance(x, y, 1.135f, 0.840f, 1.165f, 0.740f)));
    if (x > 0.89f && x < 1.20f && y > 0.58f && y < 0.89f) for (int k = 0; k < 5; ++k) {
        const float cx = 0.93f + 0.036f * k;
        mu += 1.5f * ellipse(x, y, cx, 0.700f, 0.016f, 0.030f, 0.15f);
        mu += 1.5f * ellipse(x, y, cx, 0.765f, 0.016f, 0.030f, 0.15f);
        mu += 0.9f * ellipse(x, y, cx, 0.640f, 0.010f, 0.045f, 0.2f);
        mu += 0.9f * ellipse(x, y, cx, 0.825f, 0.010f, 0.045f, 0.2f);
    }
    // Cervical spine: vertebral bodies with discs between them, posterior arches.
    if (y > 0.64f && x > 0.44f && x < 0.74f) {
        const float seg = std::fmod(y - 0.64f, 0.080f);
        mu += 0.85f * band(x, 0.60f, 0.71f, 0.01f) * band(seg, 0.012f, 0.075f, 0.005f);
        mu += 0.45f * band(x, 0.46f, 0.56f, 0.015f) * band(seg, 0.02f, 0.06f, 0.01f);
    }
    // Pharyngeal airway.
    mu -= 0.30f * band(x, 0.73f, 0.78f, 0.01f) * band(y, 0.62f, 0.98f, 0.02f);
    return mu < 0 ? 0 : mu;
}

}  // namespace tvxsim
