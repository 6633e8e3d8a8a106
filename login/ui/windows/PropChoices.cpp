#include "PropChoices.h"

namespace PropChoices {

int NetIndexForRate(int rate) {
    switch (rate) {
    case 300000: return 0;
    case 800000: return 2;
    case 1000000: return 3;
    default: return 1;
    }
}

int RateForNetIndex(int index) {
    switch (index) {
    case 0: return 300000;
    case 2: return 800000;
    case 3: return 1000000;
    default: return 500000;
    }
}

int SizeItemForPercent(int percent) {
    if (percent == 50) return 0;
    if (percent == 75) return 1;
    return 2;
}

int PercentForSizeItem(int item) {
    if (item == 0) return 50;
    if (item == 1) return 75;
    return 100;
}

int FrameRateItemFor(int framesPerSecond) {
    if (framesPerSecond == 10) return 1;
    if (framesPerSecond == 15) return 2;
    return 0;
}

int FrameRateForItem(int item) {
    if (item == 1) return 10;
    if (item == 2) return 15;
    return 8;
}

int QualityItemFor(int quality) { return quality >= 0 && quality < kQualityChoices ? quality : -1; }

int SoundRadioFor(int index) { return index >= 0 && index < kSoundChoices ? index : -1; }

int SoundOnFor(int index) { return index != 0 ? 1 : 0; }

}  // namespace PropChoices
