"""Sphinx configuration of the documentation site (tools/docs.sh builds it).

The pages are the README and docs/api.md themselves, read through MyST: the
site adds no text of its own beyond index.md's include and table of contents.
"""

import importlib.metadata

project = "velmo_wrapper"
release = importlib.metadata.version("velmo_wrapper")
extensions = ["myst_parser"]
source_suffix = {".md": "markdown"}
# The README's and the reference's links to headings (#initfps) are GitHub's
# anchors, which MyST makes for these levels.
myst_heading_anchors = 3
# Blocks without a language are output and tables, not code to colour.
highlight_language = "none"
# The reference quotes error messages exactly: straight quotes stay straight.
smartquotes = False
html_theme = "furo"
html_title = f"velmo_wrapper {release}"
