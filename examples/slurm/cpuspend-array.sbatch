#!/bin/bash
# SPDX-License-Identifier: ISC
#
# A job array of cpuspend runs, one CPU each.  Every task spends the same
# processor time, so the scheduler's accounting of each task can be set
# beside the duration it was asked for.
#
#   sbatch cpuspend-array.sbatch          # 4 tasks of 2 seconds
#   sbatch --array=0-15 cpuspend-array.sbatch 10
#
# Each task writes its reports to cpuspend-JOB_TASK.out in the directory
# sbatch was run from.
#SBATCH --job-name=cpuspend
#SBATCH --array=0-3
#SBATCH --ntasks=1
#SBATCH --cpus-per-task=1
#SBATCH --output=cpuspend-%A_%a.out
exec cpuspend -seconds "${1:-2}"
