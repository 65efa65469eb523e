#!/bin/sh
# SPDX-License-Identifier: MIT
# Section-3 manual pages made from a header's doc comments, so that the
# header stays their one source.
#   header2man.sh pages HEADER OUTDIR VERSION DATE
#       a page per exported declaration (TAVREL_API), its comment as the
#       description, and libtavrel.3: the header's opening comment (the
#       model) and every page's name
#   header2man.sh page NAME HEADER OUTDIR VERSION DATE
#       one page NAME.3 for the whole header: its opening comment, then
#       each declaration with its comment
set -eu
mode=$1
shift
case $mode in
pages) name=libtavrel header=$1 out=$2 version=$3 date=$4 ;;
page) name=$1 header=$2 out=$3 version=$4 date=$5 ;;
*) echo "usage: header2man.sh pages HEADER OUTDIR VERSION DATE | page NAME HEADER OUTDIR VERSION DATE" >&2; exit 2 ;;
esac
mkdir -p "$out"
include=$(basename "$header" .in)

awk -v q="'" -v mode="$mode" -v page="$name" -v out="$out" -v version="$version" -v date="$date" \
    -v header_name="$include" '
# Text for roff: backslashes doubled, a leading dot or quote kept as text.
function esc(s) {
    gsub(/\\/, "\\e", s)
    gsub(/-/, "\\-", s)
    if (substr(s, 1, 1) == "." || substr(s, 1, 1) == q) s = "\\&" s
    return s
}
# A comment as paragraphs: blank lines part them, "- " items become
# tagged paragraphs.
function body(text, file,    n, i, lines, l) {
    n = split(text, lines, "\n")
    for (i = 1; i <= n; i++) {
        l = lines[i]
        if (l == "") { print ".PP" > file; continue }
        if (l ~ /^  *- /) { sub(/^  *- /, "", l); print ".IP \\(bu 2" > file }
        else if (l ~ /^   +/) sub(/^ +/, "", l)
        else if (l ~ /^[^ ].*[^.:;,]$/ && i < n && lines[i + 1] ~ /^  /) { print ".SS \"" esc(l) "\"" > file; continue }
        print esc(l) > file
    }
}
# The first sentence, for the NAME line: lower-cased first letter, no
# final full stop.
function whatis(text,    s) {
    s = text
    gsub(/\n/, " ", s)
    sub(/\. .*/, "", s)
    sub(/\.$/, "", s)
    sub(/: .*/, "", s)
    if (length(s) > 72) sub(/ \(.*/, "", s)
    if (length(s) > 72) sub(/; .*/, "", s)
    if (length(s) > 72) sub(/, .*/, "", s)
    sub(/ (and|or)$/, "", s)
    return tolower(substr(s, 1, 1)) substr(s, 2)
}
function head(file, title) {
    print ".\\\" Made by docs/header2man.sh from " header_name "; edit the header, not this." > file
    print ".TH " toupper(title) " 3 \"" date "\" \"libtavrel " version "\" \"libtavrel\"" > file
}
function synopsis(file, decl) {
    print ".SH SYNOPSIS" > file
    print ".nf" > file
    print ".B #include <" header_name ">" > file
    print ".PP" > file
    print ".B \"" esc(decl) "\"" > file
    print ".fi" > file
    print ".PP" > file
    print "Link with" > file
    print ".IR \\-l" (header_name == "tavrel.h" ? "tavrel" : "tavrel\\-simboard") " ." > file
}
# A declaration: the TAVREL_API or return type dropped into the prototype
# as written, its name.
function declared(line,    d, n) {
    d = line
    sub(/^TAVREL_API +/, "", d)
    gsub(/  +/, " ", d)
    n = d
    sub(/\(.*/, "", n)
    sub(/;.*/, "", n)
    sub(/.*[ *]/, "", n)
    decl_text = d
    return n
}
BEGIN { in_comment = 0; comment = ""; opening = ""; count = 0 }
in_comment {
    line = $0
    closing = line ~ /\*\/ *$/
    sub(/ *\*\/ *$/, "", line)
    sub(/^ \* ?/, "", line)
    sub(/^ \*$/, "", line)
    if (!closing || line != "") comment = comment (comment == "" ? "" : "\n") line
    if (closing) { in_comment = 0; if (opening == "" && seen_code == 0) opening = comment }
    next
}
/^\/\* ----/ { comment = ""; next }
/^\/\*$/ { in_comment = 1; comment = ""; next }
/^\/\* / && !/\*\/ *$/ { in_comment = 1; comment = $0; sub(/^\/\* /, "", comment); next }
/^\/\* .*\*\/$/ && !/SPDX/ { comment = $0; sub(/^\/\* /, "", comment); sub(/ \*\/$/, "", comment); next }
/^#|^$|^typedef|^struct|^}|^extern|^ / { if ($0 !~ /^$/ && $0 !~ /^#/) seen_code = 1; if ($0 ~ /^#define|^typedef|^struct/) comment = ""; next }
/\(|^TAVREL_API/ {
    seen_code = 1
    line = $0
    while (line !~ /;/ && (getline more) > 0) line = line " " more
    if (mode == "pages" && line !~ /^TAVREL_API/) next
    n = declared(line)
    count++
    # Declarations under one comment share it.
    names[count] = n; decls[count] = decl_text; texts[count] = comment
    next
}
END {
    if (mode == "pages") {
        for (i = 1; i <= count; i++) {
            file = out "/" names[i] ".3"
            head(file, names[i])
            print ".SH NAME" > file
            print names[i] " \\- " esc(whatis(texts[i])) > file
            synopsis(file, decls[i])
            print ".SH DESCRIPTION" > file
            body(texts[i], file)
            print ".SH SEE ALSO" > file
            print ".BR libtavrel (3)" > file
            close(file)
        }
        file = out "/libtavrel.3"
        head(file, "libtavrel")
        print ".SH NAME" > file
        print "libtavrel \\- direct GPIO register access for BCM2835\\-family boards" > file
        print ".SH SYNOPSIS" > file
        print ".B #include <" header_name ">" > file
        print ".PP" > file
        print "Link with" > file
        print ".IR \\-ltavrel ," > file
        print "or take the flags from" > file
        print ".BR \"pkg\\-config libtavrel\" ." > file
        print ".SH DESCRIPTION" > file
        body(opening, file)
        print ".SH FUNCTIONS" > file
        for (i = 1; i <= count; i++) {
            print ".TP" > file
            print ".BR " names[i] " (3)" > file
            print esc(whatis(texts[i])) > file
        }
        print ".SH SEE ALSO" > file
        print ".BR tavrel_simboard (3)," > file
        print ".BR tavrel\\-sim (1)," > file
        print ".BR tavrel\\-gpio_mode (1)" > file
        close(file)
    } else {
        file = out "/" page ".3"
        head(file, page)
        print ".SH NAME" > file
        print page " \\- " esc(whatis(opening)) > file
        print ".SH SYNOPSIS" > file
        print ".nf" > file
        print ".B #include <" header_name ">" > file
        print ".PP" > file
        for (i = 1; i <= count; i++) print ".B \"" esc(decls[i]) "\"" > file
        print ".fi" > file
        print ".SH DESCRIPTION" > file
        body(opening, file)
        print ".SH FUNCTIONS" > file
        for (i = 1; i <= count; i++) {
            if (i > 1 && texts[i] == texts[i - 1]) continue
            print ".TP" > file
            printf ".B \"%s\"", esc(decls[i]) > file
            for (j = i + 1; j <= count && texts[j] == texts[i]; j++) printf "\n.TQ\n.B \"%s\"", esc(decls[j]) > file
            print "" > file
            body(texts[i], file)
        }
        print ".SH SEE ALSO" > file
        print ".BR tavrel\\-sim (1)," > file
        print ".BR libtavrel (3)" > file
        close(file)
    }
}' "$header"
