// How star-like each light source is, judged against the frame's own stars:
// the analysis finds anything bright and compact enough to take spikes, and
// on deep fields that includes galaxy cores. A front end that wants stars
// only measures every source here after the analysis and hides (as the Hide
// tool does) the ones the rule calls extended.
//
// Light is the mean of the three linear channels as the image's accessor
// gives them, each held to full scale, in units of full scale (1.0), above
// the local sky. The sky is the median of the pixels of each 32 × 32 cell,
// the brightest outliers left out, smoothed over neighbouring cells and
// interpolated between cell centres. Positions are in image coordinates,
// pixel centres at whole numbers, as in the light source table.
//
// The measures of one source:
//   size         the second-moment radius sqrt((Mxx + Myy) / 2) of moments
//                weighted by an elliptical Gaussian matched to the source
//                (iterated until the weight's moments are twice the weighted
//                ones, which holds for a Gaussian of the same shape): the σ of
//                a Gaussian star, larger for anything with more extended light
//   ellipticity  (a² − b²) / (a² + b²) of the same moments: 0 round, 0.6 for
//                axes 2:1
//   concentration  the light within 1.5 reference sizes over the light within
//                4 (0.67 for a Gaussian star, less for a galaxy's wide wings)
// and the same measures of the stars of similar brightness: the sources whose
// peaks lie within a factor of 2 of this one's (at least the 16 and at most
// the 64 nearest in brightness, saturated ones left out). Their reference size
// and ellipticity are the 30th percentiles, their reference concentration the
// 70th: the compact end of the population, since galaxies are larger,
// flatter and less concentrated than stars, and a fraction of galaxies among
// the sources of one brightness does not move these ends much. Brightness
// matters because a stretched photograph widens its bright stars.
//
// The rule for an unsaturated source: it is extended when it is measured and
// its size² is more than STAR_SHAPE_SIZE_LIMIT times the reference's, or its
// ellipticity exceeds the reference's by STAR_SHAPE_ELLIPTICITY_LIMIT, or its
// concentration falls below the reference's by STAR_SHAPE_CONCENTRATION_LIMIT.
//
// A source is saturated when its core is a plateau: three or more pixels
// within 2 % of the source's own brightest light (at least half the frame's
// brightest channel), or two at the frame's clipping level. Its moments
// measure the plateau, not the star, so it is judged by its wings instead:
// the median light of each ring around it gives the radius where the light
// falls below 80 % of the plateau (`wingCore`) and below 5 % (`wingQuarter`,
// about a quarter of the plateau once a photograph's gamma is applied). A
// star's light falls within a span set by its plateau (a brighter star
// spreads wider) and the frame's stars; a galaxy's falls slowly. It is
// extended when wingQuarter > STAR_SHAPE_WING_SLOPE × wingCore +
// STAR_SHAPE_WING_STAR_SIZES × the frame's star size (the 30th percentile of
// the sizes of the unsaturated measured sources), or when it is measured and
// flatter than STAR_SHAPE_SATURATED_ELLIPTICITY with its long axis away from
// the columns (a bleed trail runs along them); unless diffraction spikes
// cross the ring just outside its core (two pairs of narrow, facing peaks of
// light by direction): no galaxy has those.
#pragma once

#include <cstdint>

#include "analysis/light_source_table.h"
#include "image/image.h"

constexpr float STAR_SHAPE_SIZE_LIMIT = 1.5f;
constexpr float STAR_SHAPE_ELLIPTICITY_LIMIT = 0.3f;
constexpr float STAR_SHAPE_CONCENTRATION_LIMIT = 0.12f;
constexpr float STAR_SHAPE_WING_SLOPE = 2.0f;
constexpr float STAR_SHAPE_WING_STAR_SIZES = 5.25f;
constexpr float STAR_SHAPE_SATURATED_ELLIPTICITY = 0.5f;
// Fewer comparable sources than this: no source of the frame is judged.
constexpr uint32_t STAR_SHAPE_MIN_REFERENCES = 5;

struct StarShape {
    float x, y;                    // centre of the weighted moments
    float peak;                    // brightest pixel of the centre's 3 × 3, above the sky
    float size;                    // pixels
    float ellipticity;
    float concentration;
    float referenceSize;           // of the stars of similar brightness (0: none to compare with)
    float referenceEllipticity;
    float referenceConcentration;
    float relativeSize;            // (size / referenceSize)²; 0 without a reference
    uint8_t measured;              // 0: peak below 5 sky deviations, too near the edge, or a centre that a
                                   // neighbour draws more than 2 pixels away (never judged extended)
    uint8_t saturated;             // a plateau at the core (see the rule)
    uint8_t extended;              // the rule's verdict
    uint8_t alongColumns;          // measured: the long axis lies within 15° of the columns (as a bleed trail's)
    float wingCore;                // saturated sources: radius where the profile falls below 90 % of the plateau
    float wingQuarter;             // and below 25 % (0 when not measured)
};

// Measures every source of `table` on `image` (the picture the analysis ran
// on, before any effect is drawn) into `shapes`, which holds table->count
// records and receives them in table order, with their verdicts. The table
// is not changed. RUN_OK, RUN_CANCELLED when `stop` (may be null) rose, or
// RUN_OUT_OF_MEMORY (reported).
int16_t MeasureLightSourceShapes(const Image* image, const LightSourceList* table, StarShape* shapes,
                                 const volatile uint8_t* stop);

// Hides every source whose verdict is extended, as the Hide tool does
// (HideLightSource: the state it had is kept to be restored). Returns how
// many were hidden; sources hidden already are left as they are.
uint32_t HideExtendedLightSources(LightSourceList* table, const StarShape* shapes);
