#!/usr/bin/perl
# Finds the C library's conversions between decimal numbers and text that
# follow the process locale: strtod and its kin, atof, std::stod and
# std::stof, a scanf with a floating conversion and a printf with one. The
# UI toolkit gives the process the user's locale, under which these read and
# write "97,5" instead of "97.5"; such code has to go through
# platform/text_format.h (Format, the typed-number readers) or
# std::from_chars / std::to_chars. A printf or scanf whose format is not a
# string literal is reported too, since nobody can tell what it converts.
#
#   check_number_text.pl <folder>...
#
# Prints one line per place ("path:line: what") and fails when there is any.
# Comments and the insides of string literals are not looked at. Perl
# without modules, so that it runs on any machine that builds the editor.
use strict;
use warnings;

# Files allowed to convert through the C library, relative to a folder given.
my %allowed = (
  # The helper itself: it switches the calling thread to the "C" locale.
  'platform/text_format.cpp' => 1,
  # A program of its own, run while building: it never calls setlocale, so
  # its C library stays in the "C" locale.
  'processing/generate_sinc_tables.cpp' => 1,
);

# Calls that always read through the locale.
my $readers = qr/strtod|strtof|strtold|wcstod|wcstof|wcstold|atof|stod|stof|stold/;
# printf and scanf kin, with the index of their format argument.
my %printers = (
  printf => 0, vprintf => 0, wprintf => 0, vwprintf => 0,
  fprintf => 1, vfprintf => 1, sprintf => 1, vsprintf => 1, dprintf => 1, vdprintf => 1,
  asprintf => 1, vasprintf => 1, fwprintf => 1, vfwprintf => 1,
  snprintf => 2, vsnprintf => 2, swprintf => 2, vswprintf => 2,
);
my %scanners = (
  scanf => 0, vscanf => 0, wscanf => 0, vwscanf => 0,
  fscanf => 1, vfscanf => 1, sscanf => 1, vsscanf => 1, fwscanf => 1, vfwscanf => 1,
  swscanf => 1, vswscanf => 1,
);
my $calls = join '|', sort { length($b) <=> length($a) } (keys %printers, keys %scanners);

# The text with comments blanked out and the insides of string and character
# literals blanked too (quotes kept, newlines kept so lines still count),
# and the literals themselves: [start, end, contents].
sub Blank {
  my ($text) = @_;
  my $code = '';
  my @literals;
  my $n = length $text;
  my $i = 0;
  while ($i < $n) {
    my $c = substr($text, $i, 1);
    my $two = substr($text, $i, 2);
    # The last characters kept, for literal prefixes and digit separators.
    my $before = length $code >= 4 ? substr($code, -4) : (' ' x (4 - length $code)) . $code;
    if ($two eq '//') {
      my $end = index($text, "\n", $i);
      $end = $n if $end < 0;
      $code .= ' ' x ($end - $i);
      $i = $end;
    } elsif ($two eq '/*') {
      my $end = index($text, '*/', $i + 2);
      $end = $end < 0 ? $n : $end + 2;
      (my $gap = substr($text, $i, $end - $i)) =~ s/[^\n]/ /g;
      $code .= $gap;
      $i = $end;
    } elsif ($c eq '"' && $before =~ /(?:^|\W)(?:u8|[uUL])?R$/) {
      # A raw string: R"delim( ... )delim".
      my $open = index($text, '(', $i);
      my $delim = substr($text, $i + 1, $open - $i - 1);
      my $close = index($text, ")$delim\"", $open);
      $close = $n - length($delim) - 2 if $close < 0;
      my $end = $close + length($delim) + 2;
      push @literals, [$i, $end, substr($text, $open + 1, $close - $open - 1)];
      (my $gap = substr($text, $i + 1, $end - $i - 2)) =~ s/[^\n]/ /g;
      $code .= '"' . $gap . '"';
      $i = $end;
    } elsif ($c eq '"' || ($c eq "'" && ($before !~ /\w$/ || $before =~ /(?:^|\W)(?:u8|[uUL])$/))) {
      # (A quote after a digit or a letter separates digits: 1'000.)
      my $j = $i + 1;
      while ($j < $n && substr($text, $j, 1) ne $c && substr($text, $j, 1) ne "\n") {
        $j += substr($text, $j, 1) eq '\\' ? 2 : 1;
      }
      push @literals, [$i, $j + 1, substr($text, $i + 1, $j - $i - 1)] if $c eq '"';
      $code .= $c . (' ' x ($j - $i - 1)) . $c;
      $i = $j + 1;
    } else {
      $code .= $c;
      ++$i;
    }
  }
  return ($code, \@literals);
}

# The arguments of the call whose "(" is at |open|: [start, end] of each.
sub Arguments {
  my ($code, $open) = @_;
  my @args;
  my $depth = 0;
  my $start = $open + 1;
  for (my $i = $open; $i < length $code; ++$i) {
    my $c = substr($code, $i, 1);
    if ($c eq '(' || $c eq '[' || $c eq '{') {
      ++$depth;
    } elsif ($c eq ')' || $c eq ']' || $c eq '}') {
      --$depth;
      if ($depth == 0) {
        push @args, [$start, $i];
        last;
      }
    } elsif ($c eq ',' && $depth == 1) {
      push @args, [$start, $i];
      $start = $i + 1;
    }
  }
  return @args;
}

# The format an argument spells with string literals only, or undef.
sub LiteralFormat {
  my ($code, $literals, $start, $end) = @_;
  my $format = '';
  my $rest = substr($code, $start, $end - $start);
  for my $l (@$literals) {
    next if $l->[0] < $start || $l->[1] > $end;
    $format .= $l->[2];
    substr($rest, $l->[0] - $start, $l->[1] - $l->[0]) = ' ' x ($l->[1] - $l->[0]);
  }
  # What is left may be blanks and literal prefixes (u8"...", L"...").
  return $rest =~ /^(?:\s|\bu8\b|\b[uUL]\b|\b(?:u8|[uUL])?R\b)*$/ && length $format ? $format : undef;
}

sub FloatingPrintf {
  my ($format) = @_;
  while ($format =~ /%(%|[-+ #0']*(?:\*|\d+)?(?:\.(?:\*|\d*))?(?:hh|h|ll|l|L|q|j|z|t)?([a-zA-Z]))/g) {
    my ($spec, $conversion) = ($1, $2);
    return "%$spec" if defined $conversion && $conversion =~ /^[aAeEfFgG]$/;
  }
  return undef;
}

sub FloatingScanf {
  my ($format) = @_;
  while ($format =~ /%(%|\*?\d*(?:hh|h|ll|l|L|q|j|z|t|m)?(\[\^?\]?[^\]]*\]|[a-zA-Z]))/g) {
    my ($spec, $conversion) = ($1, $2);
    return "%$spec" if defined $conversion && $conversion =~ /^[aAeEfFgG]$/;
  }
  return undef;
}

my @found;
my $files = 0;

sub Check {
  my ($path, $relative) = @_;
  return if $allowed{$relative};
  open(my $in, '<', $path) or die "cannot read $path: $!\n";
  local $/;
  my $text = <$in>;
  close $in;
  ++$files;
  my ($code, $literals) = Blank($text);
  my $line = sub { 1 + (() = substr($code, 0, $_[0]) =~ /\n/g) };
  while ($code =~ /(?<![\w.>:])((?:(?:std)?::\s*)?($readers|$calls))\s*\(/g) {
    my ($call, $name, $at, $open) = ($1, $2, $-[0], $+[0] - 1);
    my $what;
    if (exists $printers{$name} || exists $scanners{$name}) {
      my $scan = exists $scanners{$name};
      my @args = Arguments($code, $open);
      my $index = $scan ? $scanners{$name} : $printers{$name};
      next if @args <= $index;  # a declaration or something else of that name
      my $format = LiteralFormat($code, $literals, @{$args[$index]});
      if (!defined $format) {
        $what = "$call with a format that is not a string literal";
      } elsif (my $conversion = $scan ? FloatingScanf($format) : FloatingPrintf($format)) {
        $what = "$call with the floating conversion $conversion";
      }
    } else {
      $what = $call;
    }
    push @found, "$relative:" . $line->($at) . ": $what" if defined $what;
  }
}

sub Walk {
  my ($root, $relative) = @_;
  my $folder = length $relative ? "$root/$relative" : $root;
  opendir(my $dir, $folder) or die "cannot list $folder: $!\n";
  my @names = sort grep { !/^\./ } readdir $dir;
  closedir $dir;
  for my $name (@names) {
    my $child = length $relative ? "$relative/$name" : $name;
    if (-d "$root/$child") {
      Walk($root, $child);
    } elsif ($name =~ /\.(?:c|cc|cpp|cxx|h|hh|hpp|hxx|inc)$/) {
      Check("$root/$child", $child);
    }
  }
}

die "usage: check_number_text.pl <folder>...\n" unless @ARGV;
Walk($_, '') for @ARGV;
if (@found) {
  print "$_\n" for @found;
  print scalar(@found), " place(s) convert numbers through the process locale; use platform/text_format.h or "
      . "std::from_chars / std::to_chars\n";
  exit 1;
}
print "no number conversion follows the process locale ($files files)\n";
exit 0;
