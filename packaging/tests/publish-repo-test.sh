#!/usr/bin/env bash
# Usage: publish-repo-test.sh PACKAGE-FOLDER   (the .deb files made by scripts/package)
#
# Publishes the packages with scripts/publish-repo, signed with a throw-away OpenPGP key, and
# points apt at the repository from a throw-away apt root (a file: source with signed-by=):
# apt-get update accepts it, the client's package downloads from it and would install
# (a simulated install against this system's packages); a repository whose
# Release was changed after signing, or one signed by another key, is refused.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
packages=$1

fail() {
    echo "publish-repo test: $*" >&2
    exit 1
}

work=$(mktemp -d)
cleanup() {
    gpgconf --homedir "$work/gnupg" --kill all >/dev/null 2>&1 || true
    gpgconf --homedir "$work/other" --kill all >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

make_key() { # HOME NAME
    mkdir -m 700 -p "$1"
    GNUPGHOME=$1 gpg --batch --quiet --passphrase '' \
        --quick-gen-key "$2 <$2@example.invalid>" ed25519 sign never 2>/dev/null
}
make_key "$work/gnupg" repository
make_key "$work/other" stranger

publish() { # GNUPGHOME
    GNUPGHOME=$1 "$root/scripts/publish-repo" "$work/repo" "$packages"/*.deb >/dev/null
}
publish "$work/gnupg"
cp "$work/repo/corvale-archive-keyring.gpg" "$work/keyring.gpg"

# A root of apt's own: its lists, cache and sources; the system's dpkg status for what is
# installed. Only the test's source is read.
mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/apt/parts" "$work/dl"
echo "deb [signed-by=$work/keyring.gpg] file:$work/repo stable main" >"$work/apt/sources.list"
apt_() {
    apt-get -q -o Dir::State::Lists="$work/apt/lists" -o Dir::Cache="$work/apt/cache" \
        -o Dir::Etc::sourcelist="$work/apt/sources.list" -o Dir::Etc::sourceparts="$work/apt/parts" \
        -o Dir::Etc::trusted=/dev/null -o Dir::Etc::trustedparts="$work/apt/parts" \
        -o Debug::NoLocking=1 -o APT::Sandbox::User=root "$@"
}
update() {
    rm -rf "$work/apt/lists"
    mkdir -p "$work/apt/lists/partial"
    apt_ update >"$work/update.log" 2>&1
}

update || { cat "$work/update.log" >&2; fail "apt-get update refused the signed repository"; }
! grep -q '^[WE]:' "$work/update.log" || { cat "$work/update.log" >&2; fail "apt-get update warned"; }
(cd "$work/dl" && apt_ download corvale >/dev/null 2>&1) || fail "corvale could not be fetched from the repository"
cmp -s "$work"/dl/corvale_*.deb "$packages"/corvale_*.deb || fail "the fetched corvale is not the published one"
# What installing it would do here, with this system's packages for its dependencies.
apt_ install -s -y corvale >"$work/install.log" 2>&1 || { cat "$work/install.log" >&2; fail "corvale cannot be installed from the repository"; }

# Changed after signing: one more line in the signed Release (and so in InRelease).
sed -i 's/^Label: Corvale$/Label: Corvale changed/' "$work/repo/dists/stable/Release" \
    "$work/repo/dists/stable/InRelease"
grep -q 'Label: Corvale changed' "$work/repo/dists/stable/InRelease" || fail "the test's change did not apply"
if update; then fail "apt-get update accepted a Release changed after signing"; fi
grep -q BADSIG "$work/update.log" || { cat "$work/update.log" >&2; fail "refused, but not for its signature"; }

# Signed by a key the source does not name.
publish "$work/other"
if update; then fail "apt-get update accepted a repository signed by another key"; fi
grep -q NO_PUBKEY "$work/update.log" || { cat "$work/update.log" >&2; fail "refused, but not for its key"; }

publish "$work/gnupg"
update || fail "the repository signed again is refused"
echo "publish-repo test: passed"
