// Style descriptions ("normal:bold", "normal:size=16px") and the fonts made
// from them. A description names a registered font and lists modifiers; the
// registry is searched for a font whose style is close enough, and when none
// is, a font is derived from the base font: it shares the base font's atlas
// and glyph tables and is named by a description of its own style.
#pragma once
#include <string>

#include "text/font_registry.h"

FontStyle parse_style(const char* description);
// Closeness of a candidate style to a wanted one; above 0 is close enough.
float style_score(const FontStyle& wanted, const FontStyle& candidate);
// The closest registered font, or a new derived font; the current font is
// left alone.
GlyphFont* font_for_style(const FontStyle& wanted);
GlyphFont* font_from_description(const char* description);
// A registered copy of the font for the description under a new name.
GlyphFont* make_named_font(const char* description, const char* name);
// Makes the font for a style current.
void select_style(const FontStyle& wanted);

// The effect of one ":key" or ":key=value" segment on a style; value is null
// when the segment has no "=".
void apply_style_segment(FontStyle* style, const std::string& key, const char* value);
// A base name followed by the ":width=", ":height=", ":boldness=" and
// ":skew=" of every field that differs from DEFAULT_STYLE.
std::string derived_font_name(const char* base_name, const FontStyle& style);
