#!/usr/bin/env bash
# The catalog against the hash table, on images that ffu-pack signs with a
# test certificate made here: who signed, when, and whether the table and
# the signatures hold; every broken catalog is reported, never misread.
source "$(dirname "$0")/lib.sh"

make_ffu phone 64 512 "$IMAGE_DISK_ID" MainOS
cd "$T"
ssl() { openssl "$@" 2>/dev/null; }
ssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -subj "/CN=Brackwen Test Root" -days 30
ssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr -subj "/CN=Brackwen Test Signer"
ssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out signer.pem -days 30
when() { date -u -d "$(openssl x509 -noout "-$1" -in signer.pem | cut -d= -f2)" '+%Y-%m-%d %H:%M:%S UTC'; }
export SOURCE_DATE_EPOCH=1767225600
pack() { local out=$1; shift; "$FFU_PACK" "$@" phone.img "$out.ffu" >/dev/null; }
pack sha256 --sign signer.pem signer.key
pack sha1 --sign signer.pem signer.key --catalog-digest sha1
for damage in no-member two-members other-content-type no-certificate; do
  pack "$damage" --sign signer.pem signer.key --catalog-damage "$damage"
done
# Catalogs cut, stretched, broken: sha256.ffu's own, changed.
dd if=sha256.ffu of=good.cat bs=1 skip=32 count="$(od -An -tu4 -j24 -N4 sha256.ffu | tr -d " ")" status=none
head -c 100 good.cat >truncated.cat
{ printf '\x30\x84\xff\xff\xff\xf0'; tail -c +5 good.cat; } >absurd.cat
{ head -c -1 good.cat; tail -c 1 good.cat | LC_ALL=C tr '\000-\377' '\001-\377\000'; } >broken.cat
for name in truncated absurd broken; do pack "$name" --catalog "$name.cat"; done
# A table of other chunks than the one signed.
pack changed --catalog good.cat --chunk-kb 64

SIGNED="(Korvex) The catalog was signed by 'Brackwen Test Signer' (issued by 'Brackwen Test Root') on 2026-01-01 00:00:00 UTC, with a certificate valid from $(when startdate) to $(when enddate)."
W="(Korvex) !WARNING!"
UNREADABLE="$W The catalog cannot be read:"
FINAL="but its catalog does not vouch for the table."
while IFS='|' read -r image code lines; do
  run "$BRACKWEN" --check "$image.ffu"
  check "check $image: exit code" "$code" "$RC"
  check "check $image: catalog lines" "$(eval "printf '%s\n' $lines")" \
    "$(grep -i catalog "$OUT" | sed "s/^$W The image matches .*, but/FINAL: but/")"
done <<'CASES'
sha256|0|"$SIGNED" "(Korvex) The hash table matches the catalog (SHA-256)."
sha1|0|"$SIGNED" "(Korvex) The hash table matches the catalog (SHA-1)."
phone|0|"(Korvex) The catalog is not signed."
changed|4|"$SIGNED" "$W The hash table does not match the catalog (SHA-256): the image was changed after its catalog was made." "FINAL: $FINAL"
broken|4|"$SIGNED" "$W The signature of 'Brackwen Test Signer' over the catalog does not verify." "(Korvex) The hash table matches the catalog (SHA-256)." "FINAL: $FINAL"
truncated|4|"$UNREADABLE it is not a signed message." "FINAL: $FINAL"
absurd|4|"$UNREADABLE it is not a signed message." "FINAL: $FINAL"
other-content-type|4|"$UNREADABLE it holds no certificate trust list (its content type is 1.3.6.1.4.1.311.2.1.4)." "FINAL: $FINAL"
no-member|4|"$UNREADABLE its list has no member." "FINAL: $FINAL"
two-members|4|"$UNREADABLE its list has more than one member." "FINAL: $FINAL"
no-certificate|4|"$W The catalog holds no certificate of its signer 1; its signature cannot be verified." "(Korvex) The hash table matches the catalog (SHA-256)." "FINAL: $FINAL"
CASES

while IFS='|' read -r image summary; do
  run_as_nobody "$BRACKWEN" --list "$image.ffu"
  check "list $image: catalog line" "Catalog         : $summary" "$(grep '^Catalog ' "$OUT")"
done <<'CASES'
sha256|signed by 'Brackwen Test Signer' (issued by 'Brackwen Test Root'), member digest SHA-256
sha1|signed by 'Brackwen Test Signer' (issued by 'Brackwen Test Root'), member digest SHA-1
phone|not signed, member digest SHA-256
no-certificate|signed by a signer without its certificate, member digest SHA-256
truncated|cannot be read: it is not a signed message
CASES

# The mount goes on with the line; the extract writes nothing.
run "$BRACKWEN" changed.ffu
check "mount of a changed table: exit code" 0 "$RC"
check "mount of a changed table: last line" \
  "$W Mounted the image file, but its catalog does not vouch for its hash table." "$(tail -n 1 "$OUT")"
run "$BRACKWEN" --detach
run "$BRACKWEN" --extract changed.ffu changed.img
check "extract of a changed table: exit code and no file" "73 no" "$RC $([ -e changed.img ] && echo yes || echo no)"
