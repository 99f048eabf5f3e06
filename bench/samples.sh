# Shared by the archiver benches: each timed run appends "NAME MS" to ./samples.
median() { awk -v k="$1" '$1 == k { print $2 }' samples | sort -n |
  awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
range() { awk -v k="$1" '$1 == k { print $2 }' samples | sort -n |
  awk 'NR == 1 { lo = $1 } { hi = $1 } END { print lo "-" hi }'; }
