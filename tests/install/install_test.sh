#!/usr/bin/env bash
# The install as users get it, from a full build:
#   install_test.sh prefix  BUILD APP VERSION   cmake --install into a temporary prefix: the
#       layout, the desktop's entries, the thumbnailer's command, then the prefix moved
#       and the commands run from a folder of their own
#   install_test.sh package BUILD APP VERSION   the Debian package: its contents, its
#       dependencies and the entries as they will lie under /usr
# APP: whether the build has the editor (KGL_BUILD_APP). A check whose tool is missing
# says so on a line starting with "SKIPPED:".
set -euo pipefail
mode=$1
build=$2
app=$3
version=$4
case "$app" in ON | on | TRUE | true | 1) app=1 ;; *) app=0 ;; esac

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
skipped() { echo "SKIPPED: $*"; }

programs=(kglmodel kglmodel-import kglmodel-export kglmodel-render)
commands=(kglmodel)
if [ "$app" = 1 ]; then
    programs+=(kgl-editor)
    commands+=(kgl-editor)
fi
glb=/usr/share/assimp/models/glTF2/BoxTextured-glTF-Binary/BoxTextured.glb
ply=/usr/share/assimp/models/PLY/cube.ply
# installed by scripts/install-deps.sh: a test must not pass on nothing
[ -f "$glb" ] && [ -f "$ply" ] || fail "assimp-testmodels is missing ($glb, $ply)"

# "WIDTHxHEIGHT COLOURTYPE" of a PNG file, or nothing when it is none.
png_size() {
    [ "$(od -An -tu1 -N8 "$1" | tr -s ' ')" = " 137 80 78 71 13 10 26 10" ] || return 0
    od -An -tu1 -j16 -N10 "$1" | awk '{ print ($1 * 16777216 + $2 * 65536 + $3 * 256 + $4) "x" \
        ($5 * 16777216 + $6 * 65536 + $7 * 256 + $8) " " $10 }'
}
# The value of KEY in an entry file.
entry_value() { sed -n "s/^$2=//p" "$1" | head -n 1; }
# The types of an entry's MimeType, sorted, one a line.
mime_types() { entry_value "$1" MimeType | tr ';' '\n' | sed '/^$/d' | sort; }

check_prefix() {
    local prefix=$work/prefix dir=$work/prefix/lib/kgl-editor
    cmake --install "$build" --prefix "$prefix" >"$work/install.log" || fail "cmake --install: $(tail -3 "$work/install.log")"

    # The programs and nothing else that runs; the samples and the texture beside them.
    local found expected
    found=$(cd "$prefix" && find . -type f -perm -u+x | sort)
    expected=$(for p in "${programs[@]}"; do echo "./lib/kgl-editor/$p"; done | sort)
    [ "$found" = "$expected" ] || fail "the install's programs are"$'\n'"$found"$'\n'"not"$'\n'"$expected"
    for f in checker.jpg obj/cube.obj obj/cube.kgm obj/torus.kgm obj/knot.obj; do
        [ -f "$dir/$f" ] || fail "no $f beside the programs"
    done
    for c in "${commands[@]}"; do
        [ -L "$prefix/bin/$c" ] || fail "bin/$c is no link"
        [ "$(readlink "$prefix/bin/$c")" = "../lib/kgl-editor/$c" ] || fail "bin/$c -> $(readlink "$prefix/bin/$c")"
    done

    # The thumbnailer's command, as a file manager runs it: %i in, %o out, %s the size.
    local thumbnailer=$prefix/share/thumbnailers/kgl-editor.thumbnailer
    [ -f "$thumbnailer" ] || fail "no thumbnailer entry"
    [ "$(head -n 1 "$thumbnailer")" = "[Thumbnailer Entry]" ] || fail "the thumbnailer's first group"
    local try
    try=$(entry_value "$thumbnailer" TryExec)
    [ -x "$try" ] || fail "TryExec=$try runs nothing"
    thumbnail() {  # IN OUT SIZE
        local exec
        exec=$(entry_value "$thumbnailer" Exec)
        exec=${exec//%i/$1}
        exec=${exec//%o/$2}
        exec=${exec//%s/$3}
        # shellcheck disable=SC2086  # split as the entry's words
        (cd "$work/elsewhere" && $exec)
    }
    mkdir -p "$work/elsewhere" "$work/thumbs"
    thumbnail "$glb" "$work/thumbs/glb.png" 128 2>"$work/thumb.err" || fail "thumbnail of the GLB: $(cat "$work/thumb.err")"
    [ "$(png_size "$work/thumbs/glb.png")" = "128x128 6" ] || fail "the GLB's thumbnail is $(png_size "$work/thumbs/glb.png"), not 128x128 RGBA"
    echo "thumbnail of BoxTextured.glb: $(png_size "$work/thumbs/glb.png")"
    printf 'glTF but nothing more' >"$work/broken.glb"
    if thumbnail "$work/broken.glb" "$work/thumbs/broken.png" 128 2>/dev/null; then fail "a broken file gave a thumbnail"; fi
    [ "$(ls "$work/thumbs")" = "glb.png" ] || fail "a failed thumbnail left $(ls "$work/thumbs")"

    # The types: every one is ours or known to shared-mime-info, and every extension the
    # programs read that shared-mime-info names a type for is offered (other formats that
    # share an extension with one of ours excepted).
    local types=$work/types shared=/usr/share/mime/packages/freedesktop.org.xml
    mime_types "$thumbnailer" >"$types"
    grep -qx 'model/x-kgm' "$types" || fail "the thumbnailer does not take KGM"
    if [ -f "$shared" ]; then
        while read -r t; do
            [ "$t" = model/x-kgm ] || grep -q "<mime-type type=\"$t\">" "$shared" || fail "$t is no type shared-mime-info knows"
        done <"$types"
        local others='application/x-tgif|application/x-nintendo-3ds-rom|text/x-cobol|application/vnd.stardivision.mail|application/x-genesis-rom'
        awk '/<mime-type type="/ { match($0, /type="[^"]*"/); t = substr($0, RSTART + 6, RLENGTH - 7) }
             /<glob pattern="\*\.[^"]*"/ { match($0, /pattern="\*\.[^"]*"/); print tolower(substr($0, RSTART + 11, RLENGTH - 12)), t }' \
            "$shared" >"$work/globs"
        "$dir/kglmodel" formats | awk -F'\t' 'NF == 2 { print $1 }' >"$work/extensions"
        [ -s "$work/extensions" ] || fail "kglmodel formats lists nothing"
        while read -r ext; do
            for t in $(awk -v e="$ext" '$1 == e { print $2 }' "$work/globs" | grep -Ev "^($others)\$" || true); do
                grep -qx "$t" "$types" || fail ".$ext is read, but its type $t is not offered"
            done
        done <"$work/extensions"
    else
        skipped "no $shared: the types are not checked against shared-mime-info"
    fi

    # The KGM type by its name and by its first bytes, in a database of its own.
    if command -v update-mime-database >/dev/null && command -v gio >/dev/null && [ -f "$shared" ]; then
        local mime=$work/data/mime
        mkdir -p "$mime/packages" "$work/data-home"
        cp "$shared" "$prefix/share/mime/packages/kgl-editor.xml" "$mime/packages/"
        update-mime-database "$mime" >/dev/null 2>&1 || fail "update-mime-database refuses the KGM type"
        cp "$dir/obj/cube.kgm" "$work/kgm-without-extension"
        { printf '\017'; tail -c +2 "$dir/obj/cube.kgm"; } >"$work/other-length"
        type_of() { XDG_DATA_HOME=$work/data-home XDG_DATA_DIRS=$work/data gio info -a standard::content-type "$1" 2>/dev/null | sed -n 's/^ *standard::content-type: //p'; }
        [ "$(type_of "$work/kgm-without-extension")" = model/x-kgm ] || fail "a KGM file without extension is $(type_of "$work/kgm-without-extension")"
        [ "$(type_of "$work/other-length")" != model/x-kgm ] || fail "the magic ignores the length byte"
        cp "$dir/obj/cube.kgm" "$work/cube.KGM"
        [ "$(type_of "$work/cube.KGM")" = model/x-kgm ] || fail "*.KGM is $(type_of "$work/cube.KGM")"
    else
        skipped "no update-mime-database or gio: the KGM type's glob and magic are not tried"
    fi

    # The menu entry.
    if [ "$app" = 1 ]; then
        local desktop=$prefix/share/applications/kgl-editor.desktop
        [ -f "$desktop" ] || fail "no desktop entry"
        if command -v desktop-file-validate >/dev/null; then
            desktop-file-validate "$desktop" || fail "desktop-file-validate"
            [ -z "$(desktop-file-validate "$desktop")" ] || fail "desktop-file-validate has hints: $(desktop-file-validate "$desktop")"
        else
            skipped "no desktop-file-validate (desktop-file-utils): the desktop entry is not validated"
        fi
        [ "$(entry_value "$desktop" Path)" = "$dir" ] || fail "Path=$(entry_value "$desktop" Path), not $dir"
        [ -f "$(entry_value "$desktop" Path)/checker.jpg" ] || fail "no checker.jpg in Path="
        [ "$(entry_value "$desktop" Exec)" = "kgl-editor %f" ] || fail "Exec=$(entry_value "$desktop" Exec)"
        [ "$(mime_types "$desktop")" = "$(cat "$types")" ] || fail "the desktop entry and the thumbnailer take other types"
        local icon
        icon=$(entry_value "$desktop" Icon)
        for size in 16 24 32 48 64 128 256; do
            local png=$prefix/share/icons/hicolor/${size}x$size/apps/$icon.png
            [ "$(png_size "$png")" = "${size}x$size 6" ] || fail "$png is $(png_size "$png")"
        done
    fi

    # Moved elsewhere and run from a folder of its own, the commands read, convert and
    # picture as the build's programs do, and write nothing into their own folder.
    mv "$prefix" "$work/moved"
    prefix=$work/moved
    dir=$prefix/lib/kgl-editor
    local before after
    before=$(cd "$prefix" && find . -printf '%p %s %T@\n' | sort)
    cd "$work/elsewhere"
    for model in "$dir/obj/cube.obj" "$dir/obj/cube.kgm" "$ply"; do
        local got want
        got=$("$prefix/bin/kglmodel" info "$model") || fail "installed kglmodel info $model"
        want=$("$build/bin/kglmodel" info "$model")
        [ "$got" = "$want" ] || fail "info $model:"$'\n'"$got"$'\n'"instead of"$'\n'"$want"
        echo "info $(basename "$model"): $(echo "$got" | grep fCount)"
    done
    "$prefix/bin/kglmodel" convert "$ply" cube.kgm || fail "convert of the PLY"
    [ "$("$prefix/bin/kglmodel" info cube.kgm | grep fCount)" = "$("$build/bin/kglmodel" info "$ply" | grep fCount)" ] ||
        fail "the PLY converted to KGM is another model"
    "$prefix/bin/kglmodel" render cube.kgm cube.png --size 64x48 || fail "render"
    [ "$(png_size cube.png)" = "64x48 2" ] || fail "render wrote $(png_size cube.png)"
    "$prefix/bin/kglmodel" thumbnail "$dir/obj/knot.kgm" knot.png 32 || fail "thumbnail through bin/kglmodel"
    [ "$(png_size knot.png)" = "32x32 6" ] || fail "thumbnail wrote $(png_size knot.png)"
    after=$(cd "$prefix" && find . -printf '%p %s %T@\n' | sort)
    [ "$before" = "$after" ] || fail "the programs wrote into their own folder:"$'\n'"$(diff <(echo "$before") <(echo "$after"))"
    echo "moved prefix: info, convert, render and thumbnail from another folder as from the build"
}

check_package() {
    command -v dpkg-deb >/dev/null || fail "no dpkg-deb"
    (cd "$build" && cpack -G DEB -B "$work/package" >"$work/cpack.log" 2>&1) || fail "cpack: $(tail -5 "$work/cpack.log")"
    local deb
    deb=$(ls "$work"/package/kgl-editor_*.deb)
    echo "== $(basename "$deb")"
    dpkg-deb -f "$deb" Package Version Architecture Depends
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package's version is not the project's $version"
    local depends
    depends=$(dpkg-deb -f "$deb" Depends)
    local needed=(libc6 libstdc++6 libassimp5 libosmesa6 libpng16-16 libjpeg62-turbo libseccomp2 libtinygltf2d)
    [ "$app" = 1 ] && needed+=(libqt6widgets6 libqt6openglwidgets6)
    for p in "${needed[@]}"; do
        [[ ", $depends," == *", $p "* || ", $depends," == *", $p,"* ]] || fail "Depends lacks $p: $depends"
    done

    dpkg-deb -c "$deb" | awk '{ line = $1 " " $6; if ($7 != "") line = line " " $7 " " $8; print line }' | tee "$work/contents"
    local found expected
    found=$(awk '$1 ~ /^-..x/ { print $2 }' "$work/contents" | sort)
    expected=$(for p in "${programs[@]}"; do echo "./usr/lib/kgl-editor/$p"; done | sort)
    [ "$found" = "$expected" ] || fail "the package's programs are"$'\n'"$found"
    for c in "${commands[@]}"; do
        grep -qx "l[^ ]* ./usr/bin/$c -> ../lib/kgl-editor/$c" "$work/contents" || fail "no link ./usr/bin/$c"
    done
    for f in ./usr/lib/kgl-editor/checker.jpg ./usr/lib/kgl-editor/obj/torus.kgm ./usr/share/mime/packages/kgl-editor.xml \
        ./usr/share/thumbnailers/kgl-editor.thumbnailer; do
        grep -q " $f\$" "$work/contents" || fail "the package lacks $f"
    done

    # The entries name /usr, not the folder the package was put together in.
    dpkg-deb -x "$deb" "$work/root"
    local thumbnailer=$work/root/usr/share/thumbnailers/kgl-editor.thumbnailer
    [ "$(entry_value "$thumbnailer" Exec)" = "/usr/bin/kglmodel thumbnail %i %o %s" ] || fail "Exec=$(entry_value "$thumbnailer" Exec)"
    if [ "$app" = 1 ]; then
        [ "$(entry_value "$work/root/usr/share/applications/kgl-editor.desktop" Path)" = /usr/lib/kgl-editor ] ||
            fail "the packaged desktop entry's Path= is not /usr/lib/kgl-editor"
    fi
    # The package's (stripped) programs work.
    cd "$work"
    "$work/root/usr/bin/kglmodel" info "$work/root/usr/lib/kgl-editor/obj/cube.kgm" >/dev/null || fail "the packaged kglmodel"
    "$work/root/usr/bin/kglmodel" info "$ply" >/dev/null || fail "the packaged kglmodel-import"
    "$work/root/usr/bin/kglmodel" convert "$ply" "$work/cube.glb" && [ -s "$work/cube.glb" ] ||
        fail "the packaged kglmodel-export"
}

case "$mode" in
    prefix) check_prefix ;;
    package) check_package ;;
    *) fail "mode prefix or package, not $mode" ;;
esac
echo "install $mode: ok"
