#!/usr/bin/env python3
"""Checks the language files shipped in app/resources/Language.

Every file must read cleanly as a profile file (comments, "[Section]" lines and "key=value"
lines only), carry an integer LanguageID of its own in [Info], and hold in [String] exactly the
keys of English.lang, each once (keys are matched without regard to case, so a second spelling
would be silently shadowed) and each with a non-empty text of at most 299 bytes of UTF-8, the
most a lookup returns.

Usage: language_files_test.py LANGUAGE_FOLDER
"""
import pathlib
import sys

MAX_TEXT_BYTES = 299


def read_language_file(path, problems):
    """Returns (language id or None, {lower-cased key: (key, text)}) and appends what is wrong."""
    try:
        lines = path.read_bytes().decode("utf-8").splitlines()
    except UnicodeDecodeError as error:
        problems.append(f"{path.name}: not UTF-8 ({error})")
        return None, {}
    section = None
    language_id = None
    texts = {}
    for number, raw in enumerate(lines, 1):
        line = raw.strip()
        where = f"{path.name}:{number}"
        if not line or line.startswith(";"):
            continue
        if line.startswith("["):
            if not line.endswith("]"):
                problems.append(f"{where}: broken section line {line!r}")
            section = line[1:-1].strip().lower()
            continue
        key, eq, text = line.partition("=")
        key, text = key.strip(), text.strip()
        if not eq or not key:
            problems.append(f"{where}: not a key=value line: {line!r}")
        elif section == "info" and key.lower() == "languageid":
            if not text.isdigit():
                problems.append(f"{where}: LanguageID {text!r} is not a number")
            language_id = text
        elif section == "string":
            if key.lower() in texts:
                problems.append(f"{where}: key {key!r} given twice")
                continue
            texts[key.lower()] = (key, text)
            size = len(text.encode("utf-8"))
            if size == 0:
                problems.append(f"{where}: {key} has no text")
            if size > MAX_TEXT_BYTES:
                problems.append(f"{where}: {key} is {size} bytes, more than {MAX_TEXT_BYTES}")
        else:
            problems.append(f"{where}: {key!r} outside [Info] and [String]")
    if language_id is None:
        problems.append(f"{path.name}: no LanguageID in [Info]")
    return language_id, texts


def main():
    folder = pathlib.Path(sys.argv[1])
    files = sorted(folder.glob("*.lang"))
    problems = []
    if not (folder / "English.lang").is_file():
        problems.append("English.lang is missing")
    if len(files) < 2:
        problems.append(f"expected English and at least one other language in {folder}")
    read = {path.name: read_language_file(path, problems) for path in files}

    reference_keys = {key for key, _ in read.get("English.lang", (None, {}))[1].values()}
    ids = {}
    for name, (language_id, texts) in read.items():
        if language_id is not None and language_id in ids:
            problems.append(f"{name}: LanguageID {language_id} is also that of {ids[language_id]}")
        ids.setdefault(language_id, name)
        keys = {key for key, _ in texts.values()}
        for key in sorted(reference_keys - keys):
            problems.append(f"{name}: lacks {key}")
        for key in sorted(keys - reference_keys):
            problems.append(f"{name}: has {key}, which English.lang lacks")

    for problem in problems:
        print(problem)
    print(f"{len(files)} language files, {len(reference_keys)} keys: "
          f"{'FAILED' if problems else 'ok'}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
