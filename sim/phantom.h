// Attenuation phantoms seen by the line sensor: a dental arch for the
// panoramic sensor and a lateral skull for the cephalometric sensor.
// Coordinates: u across the picture (0 = first picture column, 1 = last),
// v along the sensor (0 = top of the displayed image, 1 = bottom).
#pragma once

#include <vector>

namespace tvxsim {

// Per-column values of the panoramic phantom, computed once per picture column.
struct PanoColumn {
    float a = 0;              // 2u - 1
    float occlusal = 0;       // v of the occlusal plane
    float palate = 0;         // v of the hard palate
    float maxilla = 0;        // 0..1 presence of the upper jaw
    float maxilla_bottom = 0; // v of the alveolar crest, rising towards the tuberosity
    float mandible = 0;       // 0..1 presence of the lower jaw (body and ramus)
    float mandible_top = 0;   // v of its upper edge: alveolar crest, coronoid, notch, condyle
    float lower_border = 0;   // v of its lower edge, curving up at the angle
    float spine = 0;          // 0..1 spine shadow
    float sinus = 0;          // 0..1 maxillary sinus
    float nasal = 0;          // 0..1 nasal cavity
    float zygoma = 0;         // 0..1 zygomatic arch
    float soft = 0;           // soft tissue attenuation
    float texture = 0;        // phase of the bone texture
    int tooth_type = -1;      // -1 none, 0 incisor, 1 canine, 2 premolar, 3 molar
    float s = 0;              // position inside the tooth, -1..1
    float crown_up = 0, root_up = 0, crown_lo = 0, root_lo = 0;
    float tooth_density = 1;
};

PanoColumn pano_column(float u);
// Attenuation (line integral) at v of a column.
float pano_attenuation(const PanoColumn& c, float v);

// Lateral cephalometric skull; x and y isotropic, the face to the right.
struct CephRow {
    float y = 0;
    float profile = 0;  // x of the soft-tissue face profile at this row
};
CephRow ceph_row(float y);
float ceph_attenuation(const CephRow& row, float x);

}  // namespace tvxsim
