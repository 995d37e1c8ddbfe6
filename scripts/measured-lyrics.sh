# Sourced by the measuring scripts: the lyrics they measure, the sample lyrics and the
# classical quatrains the tests use that are not samples already (one file each, written
# into the folder given), as the array `measured`.
#   measured_lyrics ROOT SCRATCH_DIR
measured_lyrics() {
  local root=$1 scratch=$2 poem n=0
  while IFS= read -r poem; do
    grep -rqF -- "${poem%%，*}" "$root/samples" && continue
    n=$((n + 1))
    printf '%s\n' "$poem" >"$scratch/quatrain-$n.txt"
  done < <(grep -rhoIP '[\x{4e00}-\x{9fff}]{5,7}，[\x{4e00}-\x{9fff}]{5,7}。[\x{4e00}-\x{9fff}]{5,7}，[\x{4e00}-\x{9fff}]{5,7}。' \
             "$root/tests" | sort -u)
  measured=("$root"/samples/*.txt)
  ((n > 0)) && measured+=("$scratch"/quatrain-*.txt)
  measured_quatrains=$n
}
