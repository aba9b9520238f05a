#!/bin/bash
# SPDX-License-Identifier: ISC
#
# Checks the CPU limit on every node of the allocation: one task a node runs
# cpuspend-check-limit on the CPUs the job was given, with that number as
# the limit intended, and the reports are gathered into one answer, a row a
# node.  The job fails, naming the nodes, if the limit did not hold on any
# of them, or if a node sent no report.
#
#   sbatch --nodes=4 examples/slurm/limit-check-nodes.sbatch
#   sbatch --partition=batch --nodes=16 --cpus-per-task=2 examples/slurm/limit-check-nodes.sbatch
#
# The answer is in cpuspend-limit-check-JOB.out.
#SBATCH --job-name=cpuspend-limit-check
#SBATCH --ntasks-per-node=1
#SBATCH --cpus-per-task=1
#SBATCH --output=cpuspend-limit-check-%j.out

# srun takes --cpus-per-task from its own command line, not from the batch
# job's, since Slurm 22.05.  As many copies as CPUs make the capacity the
# allocation itself.
srun --ntasks-per-node=1 --cpus-per-task="$SLURM_CPUS_PER_TASK" sh -c \
	'exec cpuspend-check-limit --json --seconds "${1:-2}" --copies "$SLURM_CPUS_PER_TASK" \
		--expect "$SLURM_CPUS_PER_TASK"' sh "$@" |
	cpuspend-check-limit --gather --reports "$SLURM_JOB_NUM_NODES"
