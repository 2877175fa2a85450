# Shared by the reliability scripts (sourced): the workload they sieve and
# how their factor lines are compared.

# Four k's with every n of a window that 3 does not rule out (odd n when
# k = 2 mod 3, even n when k = 1 mod 3): hundreds of factors in a range that
# takes seconds. Writes the sequence file to $1.
write_workload() {
  {
    echo 4; echo 10000; echo 12000
    for k in 1013 2293 3061 5297; do
      echo "k=$k"
      seq $((10000 + (k % 3 == 2))) 2 12000
    done
  } > "$1"
}

# The factor lines of status file $1, in the file's order. A resumed run
# strikes what the file already names, so an interrupted range must end with
# exactly the lines of one uninterrupted run.
factor_lines() {
  grep -E '^[0-9]+ \| [0-9]+\*2\^[0-9]+\+1$' "$1" || true
}
