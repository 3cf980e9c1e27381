#!/usr/bin/env python3
"""The visible text of HTML pages, as a browser lays it out, for checking the
text of books made of the pages by a reader that knows nothing of ours.

Usage: visible_text.py PAGE...

For each page it prints a line "=== PAGE", then the page's text one block a
line: a run of white space between inline content is one space, white space
at the start and end of a block is dropped, every block element starts and
ends a line, BR ends one, PRE keeps its lines. The head is left out but for
its title; style sheets, scripts and templates are never text. An image shows
its "alt" text; an item of an ordered list starts with its number ("3.").
"""

import html.parser
import re
import sys

BLOCKS = {
    "address", "article", "aside", "blockquote", "body", "caption", "center", "dd", "details", "dialog",
    "dir", "div", "dl", "dt", "fieldset", "figcaption", "figure", "footer", "form", "h1", "h2", "h3", "h4",
    "h5", "h6", "header", "hgroup", "hr", "html", "legend", "li", "main", "menu", "nav", "ol", "p", "pre",
    "section", "summary", "table", "tbody", "tfoot", "thead", "title", "tr", "ul",
}
HIDDEN = {"style", "script", "template"}
CELLS = {"td", "th"}
SPACE = re.compile(r"[ \t\n\r\f]+")


class Page(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.lines = []
        self.line = ""
        self.space = False  # a collapsed space waits for the next inline content
        self.hidden = 0
        self.head = False
        self.title = False
        self.pre = 0
        self.ol = []  # next number of each open list (None: not ordered)

    def breakLine(self):
        if self.line.strip(" \t"):
            self.lines.append(self.line)
        self.line = ""
        self.space = False

    def inline(self, text):
        if not text:
            return
        if self.space and self.line:
            self.line += " "
        self.space = False
        self.line += text

    def handle_starttag(self, tag, attrs):
        if tag in HIDDEN:
            self.hidden += 1
            return
        if tag == "head":
            self.head = True
            return
        if self.hidden or (self.head and tag != "title"):
            return
        if tag == "title":
            self.title = True
        if tag in BLOCKS:
            self.breakLine()
        if tag == "pre":
            self.pre += 1
        if tag in ("ol", "ul"):
            start = dict(attrs).get("start") if tag == "ol" else None
            self.ol.append((int(start) if start and start.strip().lstrip("-").isdigit() else 1) if tag == "ol" else None)
        if tag == "li" and self.ol and self.ol[-1] is not None:
            self.inline("%d." % self.ol[-1])
            self.ol[-1] += 1
            self.space = True
        if tag in CELLS:
            self.space = True
        if tag == "br":
            self.breakLine()
        if tag == "img":
            self.data(dict(attrs).get("alt") or "")

    def handle_startendtag(self, tag, attrs):
        self.handle_starttag(tag, attrs)
        if tag not in ("br", "img", "hr"):
            self.handle_endtag(tag)

    def handle_endtag(self, tag):
        if tag in HIDDEN:
            self.hidden = max(0, self.hidden - 1)
            return
        if tag == "head":
            self.head = False
            self.title = False
            return
        if self.hidden or (self.head and tag != "title"):
            return
        if tag == "title":
            self.title = False
        if tag == "pre":
            self.pre = max(0, self.pre - 1)
        if tag in ("ol", "ul") and self.ol:
            self.ol.pop()
        if tag in BLOCKS:
            self.breakLine()
        if tag in CELLS:
            self.space = True

    def handle_data(self, data):
        if self.hidden or (self.head and not self.title):
            return
        self.data(data)

    def data(self, text):
        if self.pre:
            parts = text.replace("\r\n", "\n").split("\n")
            for i, part in enumerate(parts):
                if i:
                    self.breakLine()
                self.line += part
            return
        for i, word in enumerate(SPACE.split(text)):
            if i:
                self.space = True
            self.inline(word)

    def close(self):
        super().close()
        self.breakLine()


def decode(raw):
    if raw.startswith(b"\xef\xbb\xbf"):
        return raw[3:].decode("utf-8", "replace")
    m = re.search(rb"charset=[\"']?([A-Za-z0-9_-]+)", raw[:4096])
    encoding = m.group(1).decode("ascii") if m else "utf-8"
    try:
        return raw.decode(encoding, "replace")
    except LookupError:
        return raw.decode("utf-8", "replace")


def main(paths):
    out = sys.stdout
    for path in paths:
        with open(path, "rb") as f:
            page = Page()
            page.feed(decode(f.read()))
            page.close()
        out.write("=== %s\n" % path)
        for line in page.lines:
            out.write(line + "\n")


if __name__ == "__main__":
    main(sys.argv[1:])
