"""The winget manifest: its rules held to the published schemas, the identifier, the release notes and the YAML."""

import dataclasses
import json
from pathlib import Path

import jsonschema
import pytest
import yaml

from release import winget
from release.errors import ReleaseError

SCHEMAS = Path(__file__).resolve().parent.parent / "winget-1.10.0"
INSTALLER = winget.Installer("https://example.invalid/releases/Example-1.2.3.msi", "AB" * 32,
                             "{11111111-1111-8111-8111-111111111111}", "Starts it.")


@pytest.fixture
def listed(product):
    return dataclasses.replace(product, support_address="https://example.invalid/support/",
                               home_address="https://example.invalid/")


def schema_of(path):
    """The schema of a manifest's key, its path as the rules name it, with the definitions it refers to."""
    kind, *keys = path.split(".")
    root = json.loads((SCHEMAS / f"manifest.{kind}.1.10.0.json").read_text())
    node = root
    for key in keys:
        node = node["properties"][key]
        while "$ref" in node or "items" in node:
            node = root["definitions"][node["$ref"].rsplit("/", 1)[1]] if "$ref" in node else node["items"]
    return {**node, "definitions": root.get("definitions", {})}


@pytest.mark.parametrize("path", sorted(winget.RULES))
def test_each_rule_is_the_schemas_own_or_chooses_among_what_it_allows(path):
    rule, schema = winget.RULES[path], schema_of(path)
    if rule.choices:
        assert all(jsonschema.Draft7Validator(schema).is_valid(choice) for choice in rule.choices)
    else:
        assert (rule.pattern, rule.min_length, rule.max_length) == (
            schema.get("pattern"), schema.get("minLength", 0), schema.get("maxLength"))


@pytest.mark.parametrize("manufacturer, name, refusal", [
    ("Maker Ltd", "Example", r"the manufacturer 'Maker Ltd' \(MANUFACTURER in products/family.cmake\) cannot be part"),
    ("Maker", "Ex.ample", "the product name 'Ex.ample'"),
    ("Maker", "E" * 33, "the product name 'EEE"),
    ("Ma:ker", "Example", "the manufacturer 'Ma:ker'"),
])
def test_a_name_winget_refuses_in_an_identifier_stops_the_release(listed, manufacturer, name, refusal):
    assert winget.identifier(listed) == "Maker.Example"
    with pytest.raises(ReleaseError, match=refusal):
        winget.identifier(dataclasses.replace(listed, manufacturer=manufacturer, name=name))


@pytest.mark.parametrize("change, comments, notes, refusal", [
    ({"support_address": "ftp://example.invalid/"}, "Starts it.", "n", "PublisherSupportUrl 'ftp://example.invalid/' "
                                                                       "does not match"),
    ({"support_address": "https://a.invalid/\nb"}, "Starts it.", "n", "PublisherSupportUrl"),
    ({"home_address": "example.invalid"}, "Starts it.", "n", "PublisherUrl 'example.invalid' does not match"),
    ({"version": "1.2:3"}, "Starts it.", "n", "PackageVersion '1.2:3' does not match"),
    ({"manufacturer": "M"}, "Starts it.", "n", "Publisher 'M' is shorter than 2 characters"),
    ({}, "It", "n", "ShortDescription 'It' is shorter than 3"),
    ({}, "Starts it.", "", "ReleaseNotes '' is shorter than 1"),
    ({}, "Starts it.", "n" * 10001, "ReleaseNotes 'nnn.*' is longer than 10000 characters"),
], ids=["not http", "a line end", "no home", "a colon", "too short", "short comments", "no notes", "notes too long"])
def test_a_value_the_schema_refuses_stops_the_release_naming_it(listed, change, comments, notes, refusal):
    winget.check(listed, winget.documents(listed, "n", INSTALLER))
    installer = dataclasses.replace(INSTALLER, comments=comments)
    with pytest.raises(ReleaseError, match=refusal):
        winget.check(listed, winget.documents(dataclasses.replace(listed, **change), notes, installer))


CHANGELOG = "# Changelog\n\n## Example 1.2.3  \n\nNew.\n\n### Launcher\n\n- Fixed.\n\n## Example 1.2.2\n\nOld.\n"


@pytest.mark.parametrize("version, notes", [
    ("1.2.3", "New.\n\n### Launcher\n\n- Fixed."),
    ("1.2.2", "Old."),
    ("1.2", 'No release notes: CHANGELOG.md has no section "## Example 1.2".'),
])
def test_the_release_notes_are_the_versions_section_of_the_changelog(version, notes):
    assert winget.release_notes(CHANGELOG, "Example", version) == notes


def test_every_value_reads_back_as_written_and_the_manifest_is_valid(listed):
    comments = ' Starts "it": #1, \\ \'a\'\tb\u2028c\x85d\x7f\ufeff😀 é '
    notes = "- one:\n  two # not a comment\n\n \"three\"\n---\n\\\n"
    installer = dataclasses.replace(INSTALLER, comments=comments)
    for kind, document in winget.documents(listed, notes, installer).items():
        text = winget.render_yaml(kind, document)
        assert yaml.safe_load(text) == document
        jsonschema.Draft7Validator(json.loads((SCHEMAS / f"manifest.{kind}.1.10.0.json").read_text())).validate(
            yaml.safe_load(text))
