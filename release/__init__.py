"""The release tool: builds, signs and packs a release into dist/, and
verifies a release that came from someone else.

    scripts/release.sh [BRANDING OPTION...]
    scripts/verify-release.sh DIR [--rebuild] [--trust REF]

Run by Debian's python3, with Debian's packages only (pefile, asn1crypto).
"""
