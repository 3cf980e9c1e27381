#!/usr/bin/env bash
# Builds a one-subbook EPWING book with FreePWING (Debian freepwing, used as a
# black box) from a data file of entries, one per line, EUC-JP:
#   headword TAB body
# The body may hold markers: {nl} line end, {indent:N} indent (2-6),
# {e}..{/e} emphasis, {i}..{/i} italic, {b}..{/b} bold, {sub}..{/sub},
# {sup}..{/sup}, {ref:N}..{/ref} a reference to entry N (from 0).
# The book lands in OUTDIR (OUTDIR/CATALOGS, OUTDIR/TEST/DATA/HONMON).
#   make_freepwing_book.sh OUTDIR DATAFILE
set -euo pipefail
out=$1
data=$2
command -v fpwmake >/dev/null || { echo "fpwmake (freepwing) is not installed" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$data" "$work/data.txt"
cd "$work"
cat > Makefile <<'MK'
FPWPARSER = fpwtest
FPWPARSERFLAGS = data.txt
DIR = test
include fpwutils.mk
MK
cat > fpwtest <<'PL'
use FreePWING::FPWUtils::FPWParser;
initialize_fpwparser('text' => \$fpwtext, 'heading' => \$fpwheading, 'word2' => \$fpwword2);
my $n = 0;
while (<>) {
    chomp;
    my ($head, $body) = split(/\t/, $_, 2);
    $fpwtext->new_entry() || die $fpwtext->error_message() . "\n";
    $fpwheading->new_entry() || die $fpwheading->error_message() . "\n";
    $fpwtext->add_entry_tag("e$n") || die $fpwtext->error_message() . "\n";
    $fpwheading->add_text($head) || die $fpwheading->error_message() . "\n";
    ($fpwtext->add_keyword_start() && $fpwtext->add_text($head) && $fpwtext->add_keyword_end()
        && $fpwtext->add_newline()) || die $fpwtext->error_message() . "\n";
    foreach my $part (split(/(\{[^}]*\})/, $body // '')) {
        next if $part eq '';
        my $ok;
        if ($part eq '{nl}') { $ok = $fpwtext->add_newline(); }
        elsif ($part =~ /^\{indent:(\d)\}$/) { $ok = $fpwtext->add_indent_level($1); }
        elsif ($part eq '{e}') { $ok = $fpwtext->add_emphasis_start(); }
        elsif ($part eq '{/e}') { $ok = $fpwtext->add_emphasis_end(); }
        elsif ($part eq '{i}') { $ok = $fpwtext->add_font_start('italic'); }
        elsif ($part eq '{b}') { $ok = $fpwtext->add_font_start('bold'); }
        elsif ($part eq '{/i}' || $part eq '{/b}') { $ok = $fpwtext->add_font_end(); }
        elsif ($part eq '{sub}') { $ok = $fpwtext->add_subscript_start(); }
        elsif ($part eq '{/sub}') { $ok = $fpwtext->add_subscript_end(); }
        elsif ($part eq '{sup}') { $ok = $fpwtext->add_superscript_start(); }
        elsif ($part eq '{/sup}') { $ok = $fpwtext->add_superscript_end(); }
        elsif ($part =~ /^\{ref:(\d+)\}$/) { $ok = $fpwtext->add_reference_start(); $ref = "e$1"; }
        elsif ($part eq '{/ref}') { $ok = $fpwtext->add_reference_end($ref); }
        else { $ok = $fpwtext->add_text($part); }
        $ok || die $fpwtext->error_message() . "\n";
    }
    $fpwtext->add_newline() || die $fpwtext->error_message() . "\n";
    $fpwword2->add_entry($head, $fpwheading->entry_position(), $fpwtext->entry_position())
        || die $fpwword2->error_message() . "\n";
    $n++;
}
finalize_fpwparser('text' => \$fpwtext, 'heading' => \$fpwheading, 'word2' => \$fpwword2);
PL
# The catalog title is JIS X 0208 text: "テスト" in EUC-JP.
printf '[Catalog]\nFileName   = catalogs\nType       = EPWING1\nBooks      = 1\n[Book]\nTitle      = "\xa5\xc6\xa5\xb9\xa5\xc8"\nBookType   = 6001\nDirectory  = "TEST"\n' > catalogs.txt
fpwmake >log 2>&1 || { cat log >&2; exit 1; }
fpwmake catalogs >>log 2>&1 || { cat log >&2; exit 1; }
mkdir -p "$out/TEST/DATA"
cp catalogs "$out/CATALOGS"
cp honmon "$out/TEST/DATA/HONMON"
