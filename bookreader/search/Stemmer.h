// English word stems for the word search's retry: a text that is one
// irregular verb form becomes its base form ("went" -> "go"); otherwise every
// run of ASCII letters is reduced to its stem by the Porter algorithm,
// lower-cased, and every other character is copied.
//
//   char stem[256];
//   stemWords("running", stem, sizeof stem);   // "run"
//
// All state belongs to one call, so readers may stem at the same time.
#pragma once

// Writes the stemmed form of text into out (at most size bytes with the
// terminating zero). A stemmed word that would not fit ends the output.
void stemWords(const char* text, char* out, int size);

// Stems the lower-case letters b[k0..k] in place; returns the new end index
// (the caller terminates the word after it). Words of one or two letters
// are returned unchanged.
int stem(char* b, int k0, int k);
