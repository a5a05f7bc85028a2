#!/usr/bin/env bash
# Regenerates every picture of the launcher from nothing: the background, the
# protection badge and the window icon. Deterministic: fixed seeds, no dates or
# metadata in the outputs. Needs ImageMagick 6 or 7, python3 and DejaVu fonts.
set -euo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

# Call the real ImageMagick binaries by path: a wrapper of the same name may sit
# earlier on PATH. Written for ImageMagick 6; 7 understands the same options.
if [[ -x /usr/bin/convert ]]; then
    IM=(/usr/bin/convert)
elif [[ -x /usr/bin/magick ]]; then
    IM=(/usr/bin/magick)
else
    echo "make_art.sh: ImageMagick not found (/usr/bin/magick or /usr/bin/convert)" >&2
    exit 1
fi
im() { "${IM[@]}" "$@"; }

font_file() {
    local f
    f="$(fc-match -f '%{file}' "$1" 2>/dev/null || true)"
    if [[ -z "$f" || ! -f "$f" ]]; then
        echo "make_art.sh: font '$1' not found (install fonts-dejavu-core)" >&2
        exit 1
    fi
    printf '%s' "$f"
}
FONT_BOLD="$(font_file 'DejaVu Sans:style=Bold')"
FONT_BOOK="$(font_file 'DejaVu Sans:style=Book')"

# Intermediate layers go to a scratch folder that is removed at the end; set
# ART_WORKDIR to keep them somewhere for inspection while tuning the art.
if [[ -n "${ART_WORKDIR:-}" ]]; then
    WORK=$ART_WORKDIR
    mkdir -p "$WORK"
else
    WORK="$(mktemp -d)"
    trap 'rm -rf "$WORK"' EXIT
fi
cd "$WORK"

# Same pixels on every run: no random thread interleaving, no time stamps.
export MAGICK_THREAD_LIMIT=1
PNG_STABLE=(-define "png:exclude-chunks=date,time" -strip)
JPEG_OUT=(-strip -sampling-factor 2x2 -interlace none -quality 90)

# vgrad OUT WIDTH C0 H1 C1 H2 C2 ...: vertical piecewise-linear gradient, each
# band Hn pixels high running from the previous colour to Cn.
vgrad() {
    local out=$1 width=$2 prev=$3
    shift 3
    local args=()
    while (($#)); do
        args+=(-size "${width}x$1" "gradient:${prev}-$2")
        prev=$2
        shift 2
    done
    im "${args[@]}" -append "$out"
}

# fbm OUT WxH SEED COLS ROWS OCTAVES PERSISTENCE: fractal value noise, the sum
# of seeded random grids of growing resolution, each smoothly enlarged. More
# ROWS than COLS stretches the features sideways (cloud banks, fog).
fbm() {
    local out=$1 size=$2 seed=$3 c=$4 r=$5 n=$6 p=$7 args=() i poly
    poly=$(python3 -c "w=[$p**i for i in range($n)]; \
print(' '.join('%.5f,1' % (x / sum(w)) for x in w))")
    for ((i = 0; i < n; i++)); do
        args+=(\( -seed $((seed + i)) -size "${c}x${r}" xc:gray50 +noise Random
            -channel G -separate +channel -filter Spline -resize "$size!" \))
        c=$((c * 2))
        r=$((r * 2))
    done
    im "${args[@]}" -poly "$poly" -auto-level "$out"
}

# tint OUT SOURCE MASK: SOURCE (a colour image) with MASK as its alpha.
tint() {
    im "$2" "$3" -alpha off -compose CopyOpacity -composite "$1"
}

# ---------------------------------------------------------------------------
# Background. Painted on a 1568 x 976 canvas, which has the shape of the
# 900 x 560 window, then squeezed to 1088 x 976: the launcher stretches it
# back, so the moon stays round on screen.
# ---------------------------------------------------------------------------
make_background() {
    local W=1568 S=1568x976
    python3 "$HERE/shapes.py" "$WORK"

    # masks, white on black
    local m
    for m in far mid near crag windows lights fore stars glints; do
        im -size $S xc:black -draw "$(<"$m.mvg")" "m_$m.png"
    done
    im -size $S xc:black -draw "$(<tree.mvg)" m_tree.png
    im m_fore.png m_tree.png -compose Lighten -composite m_fore.png

    # sky
    vgrad sky.png $W '#050308' 190 '#0A0610' 170 '#150B1C' 130 '#2A1228' \
        90 '#54201F' 70 '#8A3A16' 326 '#240E0E'
    im sky.png -blur 0x10 sky.png

    # light falling from the horizon: wide ember haze and a hot core
    im -size 512x512 radial-gradient:white-black -resize 1900x560! \
        -evaluate Pow 1.6 g_wide.png
    im -size 512x512 radial-gradient:white-black -resize 760x190! \
        -evaluate Pow 1.3 g_core.png
    im -size $S xc:black g_wide.png -geometry +-166+290 -compose Over -composite \
        g_wide_full.png
    im -size $S xc:black g_core.png -geometry +440+470 -compose Over -composite \
        g_core_full.png
    im -size $S xc:'#C44A0E' g_wide_full.png -alpha off -compose CopyOpacity \
        -composite glow_wide.png
    im -size $S xc:'#FFBA42' g_core_full.png -alpha off -compose CopyOpacity \
        -composite glow_core.png

    # lightmap: the colour that haze and fog take, warmer near the glow
    im -size $S xc:'#2A1C34' \( -size $S xc:'#E0782C' g_wide_full.png -alpha off \
        -compose CopyOpacity -composite \) -compose Over -composite \
        \( -size $S xc:'#FFC060' g_core_full.png -alpha off \
        -compose CopyOpacity -composite \) -compose Over -composite lightmap.png

    # moon
    local MX=1190 MY=318 MR=96
    im -size $S xc:black -fill white -draw "circle $MX,$MY $((MX + MR)),$MY" \
        -blur 0x1 moon_disc.png
    fbm moon_tex_s.png $((2 * MR + 8))x$((2 * MR + 8)) 29 4 4 5 0.65
    im moon_tex_s.png -level 40%,90% +level 80%,100% moon_tex_s.png
    im -size $S xc:white moon_tex_s.png -geometry +$((MX - MR - 4))+$((MY - MR - 4)) \
        -compose Over -composite moon_tex.png
    im -size 512x512 radial-gradient:white-gray80 -resize $((2 * MR))x$((2 * MR))! \
        moon_limb_s.png
    im -size $S xc:white moon_limb_s.png -geometry +$((MX - MR))+$((MY - MR)) \
        -compose Over -composite moon_limb.png
    im -size $S xc:'#FFF6E4' moon_tex.png -compose Multiply -composite \
        moon_limb.png -compose Multiply -composite moon_col.png
    tint moon.png moon_col.png moon_disc.png
    im moon_disc.png -blur 0x34 -evaluate Multiply 0.75 halo_a.png
    im moon_disc.png -resize 25% -blur 0x30 -resize $S! -evaluate Multiply 0.9 halo_b.png
    im -size $S xc:'#E8C8A0' halo_a.png -alpha off -compose CopyOpacity -composite halo1.png
    im -size $S xc:'#6A4470' halo_b.png -alpha off -compose CopyOpacity -composite halo2.png

    # clouds: stretched fractal noise cut into banks; their undersides catch
    # the glow
    fbm c_raw.png $S 61 4 14 6 0.55
    im c_raw.png -level 50%,82% c_raw.png
    vgrad c_band.png $W black 190 black 90 gray70 170 gray85 110 gray75 \
        80 black 336 black
    im c_raw.png c_band.png -compose Multiply -composite c_mask.png
    vgrad c_grad.png $W '#120A18' 250 '#2E1C3A' 150 '#5A2C3A' 140 '#8A4430' 436 '#8A4430'
    im c_grad.png lightmap.png -compose Screen -composite \
        \( -size $S xc:'#8A7090' halo_b.png -alpha off -compose CopyOpacity \
        -composite \) -compose Screen -composite c_col.png
    tint clouds.png c_col.png c_mask.png
    im c_mask.png \( c_mask.png -roll +0-12 \) -compose MinusSrc -composite \
        -blur 0x4 \( g_wide_full.png -evaluate Pow 1.5 \) -compose Multiply \
        -composite -evaluate Multiply 3.0 c_lit_a.png
    im -size $S xc:'#FF9A40' c_lit_a.png -alpha off -compose CopyOpacity \
        -composite clouds_lit.png

    # mountain ranges: haze colour rising at their feet, rim light on ridges
    range_layer() {  # name colour haze-percent rim-strength
        local name=$1 top=$2 haze=$3 rim=$4
        im -size $S xc:"$top" lightmap.png -compose Blend -define \
            compose:args="$haze" -composite rock.png -compose Multiply \
            -composite "r_$name.png"
        # ridge rim: the top few pixels of the silhouette, lit by the glow
        im "m_$name.png" \( "m_$name.png" -roll +0+3 \) -compose MinusSrc \
            -composite -blur 0x0.8 rim.png
        im rim.png \( g_wide_full.png -evaluate Pow 2.5 \) -compose Multiply \
            -composite -evaluate Multiply "$rim" "rim_$name.png"
        tint "l_$name.png" "r_$name.png" "m_$name.png"
        im -size $S xc:'#FFB050' "rim_$name.png" -alpha off -compose CopyOpacity \
            -composite "lr_$name.png"
    }
    # faint vertical grain of rock faces
    fbm rock.png $S 91 40 5 5 0.6
    im rock.png +level 72%,100% rock.png
    range_layer far '#1C1020' 34 0.7
    range_layer mid '#120A16' 20 0.7
    range_layer crag '#0B070E' 8 0.5
    range_layer near '#09060B' 8 0.3
    range_layer fore '#050307' 3 0.3

    # fog banks between the ranges
    fog_layer() {  # name seed band-args...
        local name=$1 seed=$2
        shift 2
        fbm "f_raw_$name.png" $S "$seed" 3 16 6 0.55
        im "f_raw_$name.png" -level 25%,85% "f_raw_$name.png"
        vgrad "f_band_$name.png" $W "$@"
        im "f_raw_$name.png" "f_band_$name.png" -compose Multiply -composite \
            "f_mask_$name.png"
        tint "fog_$name.png" lightmap.png "f_mask_$name.png"
    }
    fog_layer 1 41 black 420 black 70 gray45 50 gray70 60 gray30 376 black
    fog_layer 2 43 black 520 black 60 gray40 40 gray65 80 gray35 276 black
    fog_layer 3 47 black 600 black 40 gray30 60 gray50 120 gray30 156 black

    # castle windows
    im -size $S xc:'#FFC45A' m_windows.png -alpha off -compose CopyOpacity \
        -composite win.png
    im m_windows.png -blur 0x6 -evaluate Multiply 2.2 win_glow_a.png
    im -size $S xc:'#E0601A' win_glow_a.png -alpha off -compose CopyOpacity \
        -composite win_glow.png

    # far-off fires in the valley
    im m_lights.png -blur 0x5 -evaluate Multiply 3 lights_glow_a.png
    im -size $S xc:'#FF7A20' lights_glow_a.png -alpha off -compose CopyOpacity \
        -composite lights_glow.png
    im -size $S xc:'#FFD890' m_lights.png -alpha off -compose CopyOpacity \
        -composite lights.png

    # stars, with a few four-point glints
    im m_stars.png m_glints.png -compose Screen -composite stars.png

    # shading: darker top band for the title, darker floor for the panel,
    # and a soft vignette
    vgrad shade.png $W gray30 120 gray60 170 white 420 white 266 gray35
    im -size 512x512 radial-gradient:white-black -resize 2200x1500! \
        -gravity center -crop $S+0+0 +repage -level 0%,60% -evaluate Pow 0.7 \
        +level 35%,100% vignette.png

    im sky.png \
        stars.png -compose Screen -composite \
        glow_wide.png -compose Screen -composite \
        halo2.png -compose Screen -composite \
        moon.png -compose Over -composite \
        halo1.png -compose Screen -composite \
        clouds.png -compose Over -composite clouds_lit.png -compose Screen -composite \
        glow_core.png -compose Screen -composite \
        l_far.png -compose Over -composite lr_far.png -compose Screen -composite \
        fog_1.png -compose Over -composite \
        l_mid.png -compose Over -composite lr_mid.png -compose Screen -composite \
        lights_glow.png -compose Screen -composite lights.png -compose Over -composite \
        fog_2.png -compose Over -composite \
        l_crag.png -compose Over -composite lr_crag.png -compose Screen -composite \
        win_glow.png -compose Screen -composite win.png -compose Over -composite \
        l_near.png -compose Over -composite lr_near.png -compose Screen -composite \
        fog_3.png -compose Over -composite \
        l_fore.png -compose Over -composite lr_fore.png -compose Screen -composite \
        shade.png -compose Multiply -composite \
        vignette.png -compose Multiply -composite \
        bg_full.png
    # a whisper of film grain keeps the dark gradients from banding
    im bg_full.png -filter Lanczos -resize 1088x976! \
        -seed 3 -attenuate 0.12 +noise Gaussian "${JPEG_OUT[@]}" \
        "$HERE/background.jpg"
}

# ---------------------------------------------------------------------------
# Protection badge, 1024 x 1024. Shown at 108 % of a square window with
# rounded corners, so everything that matters stays in the central area.
# ---------------------------------------------------------------------------
make_badge() {
    local S=1024x1024
    # shield outline: peaked top, straight flanks, curved sides to the point
    local SHIELD="path 'M 512,176 C 584,214 642,230 708,232 L 708,396
        C 708,536 626,622 512,672 C 398,622 316,536 316,396 L 316,232
        C 382,230 440,214 512,176 Z'"
    # the same outline shrunk towards its centre, for the inner rim line
    local INNER="path 'M 512,204 C 574,236 624,250 680,252 L 680,398
        C 680,520 608,596 512,640 C 416,596 344,520 344,398 L 344,252
        C 400,250 450,236 512,204 Z'"

    # background: deep night blue with a soft green light behind the shield
    im -size $S xc:'#060A16' \
        \( -size 512x512 radial-gradient:'#173A36'-'#060A16' -resize 1180x1180! \
        -gravity center -crop $S+0-60 +repage \) -compose Lighten -composite \
        b_bg.png
    # a faint seal: two thin rings and tick marks around the shield
    python3 - > b_seal.mvg <<'PY'
import math
print("fill none stroke white")
print("stroke-width 3 circle 512,424 512,94")
print("stroke-width 1.5 circle 512,424 512,70")
for i in range(72):
    a = math.radians(i * 5)
    r0, r1 = (338, 352) if i % 2 else (336, 358)
    print("stroke-width %.1f line %.1f,%.1f %.1f,%.1f" % (
        2.5 if i % 2 == 0 else 1.5,
        512 + r0 * math.cos(a), 424 + r0 * math.sin(a),
        512 + r1 * math.cos(a), 424 + r1 * math.sin(a)))
PY
    im -size $S xc:black -draw "$(<b_seal.mvg)" -blur 0x0.6 \
        \( -size 512x512 radial-gradient:white-black -resize 1024x1024! \
        -level 0%,50% \) -compose Multiply -composite \
        \( -size 1024x560 xc:white -size 1024x150 gradient:white-black \
        -size 1024x314 xc:black -append \) -compose Multiply -composite \
        -evaluate Multiply 0.22 b_seal_a.png
    im -size $S xc:'#A0FFB4' b_seal_a.png -alpha off -compose CopyOpacity \
        -composite b_seal.png

    # shield mask, glow and drop shadow
    im -size $S xc:black -fill white -draw "$SHIELD" b_mask.png
    im b_mask.png -blur 0x46 -evaluate Multiply 0.85 b_glow_a.png
    im -size $S xc:'#3CD070' b_glow_a.png -alpha off -compose CopyOpacity \
        -composite b_glow.png
    im b_mask.png -roll +0+22 -blur 0x18 -evaluate Multiply 0.8 b_shadow_a.png
    im -size $S xc:black b_shadow_a.png -alpha off -compose CopyOpacity \
        -composite b_shadow.png

    # shield body: vertical gradient, bevel shading, lighter left face
    vgrad b_fill.png 1024 '#5AC878' 176 '#5AC878' 496 '#145A32' 352 '#145A32'
    im b_mask.png -blur 0x14 -shade 135x40 -auto-level \
        -level 10%,100% b_shade.png
    im b_fill.png b_shade.png -compose Overlay -composite b_body_c.png
    # the left face catches more light: a faceted, two-tone shield
    im -size $S xc:black -fill white -draw "rectangle 0,0 511,1023" b_sheen_m.png
    im b_sheen_m.png b_mask.png -compose Multiply -composite \
        \( -size 1024x176 xc:gray38 -size 1024x520 gradient:gray38-gray6 \
        -size 1024x328 xc:gray6 -append \) -compose Multiply -composite \
        b_sheen_a.png
    im -size $S xc:white b_sheen_a.png -alpha off -compose CopyOpacity \
        -composite b_sheen.png
    tint b_body.png b_body_c.png b_mask.png

    # rims: the bright outer outline and a thin inner line
    im -size $S xc:none -fill none -stroke '#A0FFB4' -strokewidth 11 \
        -draw "$SHIELD" b_rim.png
    im -size $S xc:none -fill none -stroke 'rgba(200,255,210,0.45)' \
        -strokewidth 3 -draw "$INNER" b_rim2.png
    im -size $S xc:none -fill none -stroke 'rgba(4,40,20,0.55)' \
        -strokewidth 4 -draw "$INNER" -roll +0+3 -blur 0x1.5 b_rim2_sh.png

    # check mark with its own shadow
    local CHECK="polyline 410,418 488,498 626,346"
    im -size $S xc:none -fill none -stroke 'rgba(0,30,12,0.8)' -strokewidth 50 \
        -draw "stroke-linecap round stroke-linejoin round $CHECK" \
        -roll +6+12 -blur 0x9 b_check_sh.png
    im -size $S xc:none -fill none -stroke '#F0FFF0' -strokewidth 46 \
        -draw "stroke-linecap round stroke-linejoin round $CHECK" b_check_m.png
    vgrad b_check_g.png 1024 '#FFFFFF' 330 '#FFFFFF' 180 '#C8F5D2' 514 '#C8F5D2'
    im b_check_g.png b_check_m.png -compose CopyOpacity -composite b_check.png

    # captions with a soft green glow, and a rule between shield and text
    im -size $S xc:none -gravity north -font "$FONT_BOLD" -pointsize 54 \
        -kerning 1 -fill '#DCFFDC' -annotate +0+738 'protected by Varnguard' \
        -font "$FONT_BOOK" -pointsize 36 -kerning 3 -fill '#96DCA0' \
        -annotate +0+818 'védett játékkörnyezet' b_text.png
    im b_text.png -alpha extract -blur 0x10 -evaluate Multiply 0.55 b_text_glow_a.png
    im -size $S xc:'#3CD070' b_text_glow_a.png -alpha off -compose CopyOpacity \
        -composite b_text_glow.png
    im -size 350x3 gradient:black-white \( -size 350x3 gradient:white-black \) \
        +append b_rule_line.png
    im -size $S xc:black b_rule_line.png -geometry +162+711 -compose Over \
        -composite -fill white -draw "polygon 512,703 521,712 512,721 503,712" \
        -evaluate Multiply 0.7 b_rule_a.png
    im -size $S xc:'#A0FFB4' b_rule_a.png -alpha off -compose CopyOpacity \
        -composite b_rule.png

    im b_bg.png \
        b_seal.png -compose Over -composite \
        b_glow.png -compose Screen -composite \
        b_shadow.png -compose Over -composite \
        b_body.png -compose Over -composite \
        b_sheen.png -compose Screen -composite \
        b_rim2_sh.png -compose Over -composite \
        b_rim2.png -compose Over -composite \
        b_rim.png -compose Over -composite \
        b_check_sh.png -compose Over -composite \
        b_check.png -compose Over -composite \
        b_rule.png -compose Screen -composite \
        b_text_glow.png -compose Screen -composite \
        b_text.png -compose Over -composite \
        -alpha off "${JPEG_OUT[@]}" "$HERE/varnguard.jpg"
}

# ---------------------------------------------------------------------------
# Window icon: an orange-gold sword-like "T" rune on a dark violet rounded
# square. 16 to 48 px use a pixel-aligned drawing (every edge on the pixel
# grid, drawn 8x larger and box-averaged down) so they stay crisp; 64 px and
# up are scaled from a detailed 1024 px master.
# ---------------------------------------------------------------------------
make_icons() {
    mkdir -p "$HERE/icons"
    local PNG_OUT=("${PNG_STABLE[@]}" -define png:color-type=6 -define png:bit-depth=8)

    # detailed master, drawn in 256 units at 4x
    local M=1024 SC="scale 4,4"
    local GLYPH="polygon 34,70 58,50 198,50 222,70 198,90 150,90 146,184 128,224 110,184 106,90 58,90"
    im -size ${M}x$M xc:black -fill white -draw "$SC roundrectangle 6,6 250,250 48,48" \
        i_bg_m.png
    vgrad i_bg_g.png $M '#34203C' 520 '#1C101E' 504 '#0A080E'
    im -size 512x512 radial-gradient:white-black -resize 900x900! -evaluate Pow 1.4 \
        -evaluate Multiply 0.6 i_halo_s.png
    im -size ${M}x$M xc:black i_halo_s.png -geometry +62+6 -compose Over -composite \
        i_halo_a.png
    im -size ${M}x$M xc:'#C44A0E' i_halo_a.png -alpha off -compose CopyOpacity \
        -composite i_halo.png
    im i_bg_g.png i_halo.png -compose Screen -composite i_bg_c.png
    tint i_bg.png i_bg_c.png i_bg_m.png
    im -size ${M}x$M xc:none -fill none -stroke 'rgba(255,186,66,0.85)' \
        -strokewidth 3.5 -draw "$SC roundrectangle 11,11 245,245 43,43" \
        \( -size ${M}x$M xc:none -fill none -stroke 'rgba(0,0,0,0.6)' \
        -strokewidth 2 -draw "$SC roundrectangle 14,14 242,242 40,40" \) \
        -compose Over -composite i_border.png

    im -size ${M}x$M xc:black -fill white -draw "$SC $GLYPH" i_glyph_m.png
    vgrad i_glyph_g.png $M '#FFF4C0' 200 '#FFF4C0' 200 '#FFBA42' 260 '#E0781E' \
        240 '#C44A0E' 124 '#C44A0E'
    im i_glyph_m.png -blur 0x10 -shade 120x38 -auto-level -level 5%,100% i_glyph_sh.png
    im i_glyph_g.png i_glyph_sh.png -compose Overlay -composite \
        -fill '#7A2A08' -draw "$SC stroke '#8A3008' stroke-width 2 line 128,100 128,188" \
        i_glyph_c.png
    tint i_glyph.png i_glyph_c.png i_glyph_m.png
    im i_glyph_m.png -morphology Dilate Disk:14 -blur 0x6 -evaluate Multiply 0.9 \
        i_glyph_out_a.png
    im -size ${M}x$M xc:'#14060A' i_glyph_out_a.png -alpha off -compose CopyOpacity \
        -composite i_glyph_out.png
    im i_glyph_m.png -blur 0x28 -evaluate Multiply 0.8 i_glyph_glow_a.png
    im -size ${M}x$M xc:'#FF8A2A' i_glyph_glow_a.png -alpha off -compose CopyOpacity \
        -composite i_glyph_glow.png
    # small ember gem where the bar meets the blade
    im -size ${M}x$M xc:none -fill '#B4340C' -stroke '#4A1204' -strokewidth 2.5 \
        -draw "$SC polygon 128,60 138,70 128,80 118,70" i_gem.png

    im i_bg.png i_glyph_glow.png -compose Screen -composite \
        \( i_bg_m.png -alpha off \) -compose CopyOpacity -composite \
        i_glyph_out.png -compose Over -composite \
        i_glyph.png -compose Over -composite \
        i_gem.png -compose Over -composite \
        i_border.png -compose Over -composite i_master.png

    local n sharpen
    for n in 64 128 256; do
        sharpen=()
        [[ $n == 64 ]] && sharpen=(-unsharp 0x0.8+0.7+0)
        im i_master.png -filter Lanczos -resize ${n}x$n "${sharpen[@]}" \
            "${PNG_OUT[@]}" "PNG32:$HERE/icons/talvora-$n.png"
    done

    # pixel-aligned drawing in 16 units; 16 px: 1 unit per pixel
    local GLYPH16="polygon 2,4.5 3,3 13,3 14,4.5 13,6 10,6 10,11 8,14 6,11 6,6 3,6"
    for n in 16 32 48; do
        local F=$((n * 8)) k
        k=$(python3 -c "print($n * 8 / 16)")
        im -size ${F}x$F xc:black -fill white \
            -draw "scale $k,$k roundrectangle 0,0 16,16 3,3" p_bg_m.png
        vgrad p_bg_g.png $F '#3A2242' $((F / 2)) '#1C101E' $((F - F / 2)) '#0E0A12'
        # warm light behind the rune
        im -size 256x256 radial-gradient:white-black -resize $((F * 7 / 8))x$((F * 7 / 8))! \
            -evaluate Multiply 0.45 -gravity center -background black \
            -extent ${F}x$F p_glow_a.png
        im p_bg_g.png \( -size ${F}x$F xc:'#C44A0E' p_glow_a.png -alpha off \
            -compose CopyOpacity -composite \) -compose Screen -composite p_bg_g.png
        tint p_bg.png p_bg_g.png p_bg_m.png
        im -size ${F}x$F xc:black -fill white -draw "scale $k,$k $GLYPH16" p_glyph_m.png
        vgrad p_glyph_g.png $F '#FFF0B0' $((F * 3 / 16)) '#FFF0B0' $((F * 3 / 16)) \
            '#FFBA42' $((F * 8 / 16)) '#D8621A' $((F - F * 14 / 16)) '#D8621A'
        tint p_glyph.png p_glyph_g.png p_glyph_m.png
        local extra=()
        if ((n >= 32)); then
            # from 32 px up there is room for a gold rim one pixel wide
            # (8 units here, 1 px after the 8x reduction)
            local r=$((F * 3 / 16))
            im -size ${F}x$F xc:none -fill none -stroke 'rgba(255,186,66,0.75)' \
                -strokewidth 8 -draw "roundrectangle 4,4 $((F - 4)),$((F - 4)) $r,$r" \
                p_rim.png
            extra=(p_rim.png -compose Over -composite)
        fi
        im p_bg.png p_glyph.png -compose Over -composite "${extra[@]}" \
            -filter Box -resize ${n}x$n "${PNG_OUT[@]}" "PNG32:$HERE/icons/talvora-$n.png"
    done

    python3 "$HERE/make_ico.py" "$HERE/talvora.ico" \
        "$HERE"/icons/talvora-{16,32,48,64,128,256}.png
}

what=${1:-all}
case $what in
    background) make_background ;;
    badge) make_badge ;;
    icons) make_icons ;;
    all) make_background; make_badge; make_icons ;;
    *) echo "usage: make_art.sh [all|background|badge|icons]" >&2; exit 2 ;;
esac
