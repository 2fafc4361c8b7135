#pragma once
// How the main frame sizes itself from the screen.

namespace vrx4 {

// Size of the frame on screens wider than 800 pixels.
inline constexpr int kFrameWidth = 790;
inline constexpr int kFrameHeight = 570;
inline constexpr int kSmallScreenWidth = 800;

// True when the frame opens maximized: the available width of the primary
// screen is 800 pixels or less. The frame then also has a maximize box;
// on wider screens it opens at 790 x 570 without one.
inline bool frameOpensMaximized(int availableWidth) { return availableWidth <= kSmallScreenWidth; }

}  // namespace vrx4
