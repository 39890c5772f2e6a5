// Rules of the input-method helpers: conversion bits per mode, the preferred input method and
// the controls that take one.
#pragma once

#include <string>
#include <vector>

namespace core {

// The input-method modes, in the order of their values.
enum class ImeMode {
    Disable,
    Close,
    Open,
    DontCare,
    SAlpha,
    Alpha,
    Hira,
    SKata,
    Kata,
    Chinese,
    SHanguel,
    Hanguel
};

// Conversion-mode bits of the platform.
inline constexpr unsigned kImeNative = 0x1;
inline constexpr unsigned kImeKatakana = 0x2;
inline constexpr unsigned kImeFullShape = 0x8;

// The conversion mode for a mode that sets one (SAlpha and beyond): the native, katakana and
// full-shape bits of `current` cleared, then those of the mode set (SAlpha none, Alpha 0x8,
// Hira 0x9, SKata 0x3, Kata 0xB, later modes none); the other bits are kept.
unsigned ImeConversionFor(ImeMode mode, unsigned current);

// The position of the preferred input method in the platform's list: the first whose
// lower-cased name contains "microsoft ime", else the first; -1 for an empty list.
int PreferredImeIndex(const std::vector<std::wstring>& names);

// Whether a component of this class name gets the preferred input method (exact match).
bool IsEditLikeClass(const std::wstring& className);

} // namespace core
