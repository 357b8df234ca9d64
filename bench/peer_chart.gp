# Grouped bars of operations per second per engine, log scale, from PeerReport's
# results-N.dat. Usage:
#   gnuplot -e "datafile='results-N.dat'; outfile='results-N.png'; records='N'; engines=3" peer_chart.gp
set terminal pngcairo size 1200,650 noenhanced font ",10"
set output outfile
set title sprintf("Operations per second, %s records (log scale, higher is better)", records)
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set logscale y
set format y "%.0s%c"
set grid ytics
set xtics rotate by -25 nomirror
set key top right autotitle columnheader
set ylabel "operations per second"
plot for [c=2:engines+1] datafile using c:xtic(1)
