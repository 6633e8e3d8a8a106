#pragma once

// How the settings pages turn stored values into the choices they show and back. A stored value
// that is not on offer is shown as the page's fall-back choice and read back as that choice;
// the sound and quality indexes pass through unchanged when out of range.
namespace PropChoices {

inline constexpr int kRates[4] = {300000, 500000, 800000, 1000000};
inline constexpr int kSizes[3] = {50, 75, 100};
inline constexpr int kFrameRates[3] = {8, 10, 15};
inline constexpr int kSoundChoices = 3;
inline constexpr int kQualityChoices = 3;

// Network page: upload rate in bit/s <-> radio index; 500000 is the fall-back.
int NetIndexForRate(int rate);
int RateForNetIndex(int index);

// Video page: picture size in percent <-> item; 100 % is the fall-back.
int SizeItemForPercent(int percent);
int PercentForSizeItem(int item);

// Video page: frames per second <-> item; 8 is the fall-back.
int FrameRateItemFor(int framesPerSecond);
int FrameRateForItem(int item);

// Video page: the quality item shown for a stored quality; -1 (no selection) when out of range.
int QualityItemFor(int quality);

// Sound page: the radio box shown for a stored index (-1, none, when out of range), and whether
// the choice sends sound.
int SoundRadioFor(int index);
int SoundOnFor(int index);

}  // namespace PropChoices
