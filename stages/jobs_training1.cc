// UpdateMDB_Jobs_Training1: the training prerequisites of the lead-in group
// (FEMO, LTAN, RXB1, RXB2, RXI1, CREP, FIRB, RXM1, RXM2) and of the positions
// from ACDP to GSUL in tbl_kav_jobs_prereq_training.  The stage runs fixed
// steps, prerequisite rows and corrections of the table, in the order below,
// with the training stages' error rule in force for every single operation,
// so a failure never stops the stage.
//
// Every row opens the table afresh and assigns all six fields as text; the
// rows and the five forms of correction are those of
// stages/training_prerequisites, which the second training stage writes
// too.

#include <string>
#include <vector>

#include "stages/stages.h"
#include "stages/training_prerequisites.h"

namespace kav::stages {
namespace {

std::vector<Step> BuildSteps() {
  return {
      // The lead-in group; its order is the stored one, not alphabetical.
      Prerequisite("RX", "FEMO", "RX", "RX-310", "ST"),
      Prerequisite("RX", "FEMO", "WF", "RT-130", "RT"),
      Prerequisite("WF", "LTAN", "WF", "RT-130", "RT"),
      Prerequisite("WF", "LTAN", "WF", "S-580", "ST"),
      Prerequisite("WF", "LTAN", "WF", "NBHAV+", "ST"),
      Prerequisite("RX", "RXB1", "WF", "RT-130", "RT"),
      Prerequisite("RX", "RXB2", "WF", "L-380", "ST"),
      Prerequisite("RX", "RXB2", "RX", "RX-341", "ST"),
      Prerequisite("RX", "RXB2", "WF", "RT-130", "RT"),
      DeleteCourse("RXB2", "S-381"),
      DeletePosition("RXI1"),
      Prerequisite("WF", "CREP", "WF", "RT-130", "RT"),
      Prerequisite("WF", "FIRB", "WF", "S-290", "RT"),
      Prerequisite("WF", "FIRB", "WF", "S-230", "RT"),
      // This RT-130 row and the L-280 row two below are written again after
      // FOBS below.
      Prerequisite("WF", "FIRB", "WF", "RT-130", "RT"),
      Prerequisite("WF", "FIRB", "WF", "I-200", "ST"),
      Prerequisite("WF", "FIRB", "WF", "L-280", "ST"),
      Prerequisite("WF", "FIRB", "WF", "S-270", "ST"),
      Prerequisite("WF", "FIRB", "WF", "S-260", "ST"),
      Prerequisite("WF", "FIRB", "WF", "S-234", "ST"),
      Prerequisite("RX", "RXM1", "WF", "RT-130", "RT"),
      Prerequisite("RX", "RXM2", "WF", "RT-130", "RT"),
      // ACDP to AOBD.
      Prerequisite("WF", "ACDP", "WF", "D-312", "ST"),
      Prerequisite("WF", "ACDP", "WF", "D-310", "ST"),
      Prerequisite("WF", "ACDP", "WF", "I-200", "ST"),
      Prerequisite("WF", "ACDP", "WF", "S-270", "ST"),
      Prerequisite("WF", "ACDP", "WF", "S-260", "ST"),
      Prerequisite("WF", "AOBD", "WF", "L-480", "ST"),
      // The old S-481 under both the code it had and the one the course
      // catalogue stage gives it.
      DeleteCourseList("AOBD", {"S-481", "S-481Old"}),

      // AREP to EDSP.
      DeleteCourse("AREP", "S-000"),
      Prerequisite("AREP", "L-180", "ST"),
      Prerequisite("ASGS", "RT-130", "RT"),
      ReplaceCourse("ASGS", "J-375", "S-375"),
      Prerequisite("ATCO", "L-380", "ST"),
      DeleteCourse("ATCO", "J-376"),
      DeleteCourse("ATCO", "S-110"),
      Prerequisite("ATGS", "RT-130", "RT"),
      DeleteCourse("BCMG", "S-281"),
      Prerequisite("BCMG", "L-180", "ST"),
      DeleteCourse("CLMS", "S-000"),
      Prerequisite("CLMS", "I-100", "ST"),
      Prerequisite("CLMS", "L-180", "ST"),
      DeleteCourse("CMSY", "S-000"),
      Prerequisite("CMSY", "I-100", "ST"),
      Prerequisite("CMSY", "L-180", "ST"),
      Prerequisite("COML", "L-380", "ST"),
      DeleteCourse("COML", "S-381"),
      ReplaceCourse("COML", "J-358", "S-358"),
      // Finds nothing left: the removal above took every S-381 row of COML.
      ReplaceCourse("COML", "S-381", "L-380"),
      Prerequisite("COMP", "L-380", "ST"),
      // Runs after COMP's L-380 row is in: where a unique key holds one row
      // per position and course, COMP's S-381 row stays as it is.
      ReplaceCourse("COMP", "S-381", "L-380"),
      ReplaceCourse("COMT", "I-200", "I-100"),
      Prerequisite("COMT", "L-180", "ST"),
      Prerequisite("COMT", "S-190", "ST"),
      Prerequisite("COMT", "RT-130", "RT"),
      ReplaceCourse("CORD", "S-401", "L-480"),
      Prerequisite("COST", "S-360", "ST"),
      Prerequisite("COST", "N9029", "ST"),
      ReplaceCourse("COST", "S-381", "L-380"),
      Prerequisite("CRWB", "RT-130", "RT"),
      Prerequisite("CRWB", "L-280", "ST"),
      Prerequisite("DIVS", "RT-130", "RT"),
      Prerequisite("DIVS", "S-390", "RT"),
      Prerequisite("DIVS", "L-381", "ST"),
      ReplaceCourse("DOCL", "I-200", "I-300"),
      Prerequisite("DOZB", "RT-130", "RT"),
      Prerequisite("DOZB", "L-280", "ST"),
      ReplaceCourse("EDRC", "S-110", "L-180"),
      Prerequisite("EDRC", "S-190", "ST"),
      DeleteCourse("EDSD", "S-281"),
      DeleteCourse("EDSP", "S-190"),
      DeleteCourse("EDSP", "S-381"),
      Prerequisite("EDSP", "L-380", "ST"),
      Prerequisite("EDSP", "A-207", "ST"),

      // ENGB to GSUL.
      Prerequisite("ENGB", "RT-130", "RT"),
      Prerequisite("ENGB", "L-280", "ST"),
      Prerequisite("EQPM", "L-180", "ST"),
      Prerequisite("EQTR", "L-180", "ST"),
      Prerequisite("EQTR", "I-100", "ST"),
      Prerequisite("FACL", "L-380", "ST"),
      ReplaceCourse("FACL", "J-354", "S-354"),
      DeleteCourse("FACL", "S-381"),
      Prerequisite("FBAN", "RT-130", "RT"),
      DeleteCourse("FDUL", "J-357"),
      Prerequisite("FDUL", "S-357", "RT"),
      Prerequisite("FDUL", "L-380", "ST"),
      Prerequisite("FDUL", "I-300", "ST"),
      DeleteCourse("FDUL", "S-381"),
      Prerequisite("FELB", "RT-130", "RT"),
      Prerequisite("FELB", "L-280", "ST"),
      Prerequisite("FFT1", "S-133", "RT"),
      Prerequisite("FFT1", "RT-130", "RT"),
      DeleteCourse("FFT1", "S-281"),
      Prerequisite("FFT2", "RT-130", "RT"),
      Prerequisite("FFT2", "L-180", "RT"),
      SetType("FFT2", "I-100", "RT"),
      // FIRB's RT-130 and L-280 rows a second time, value for value, with the
      // FOBS row between them: where the table has a unique key each meets
      // its twin from the lead-in group and is skipped as a duplicate.
      Prerequisite("FIRB", "RT-130", "RT"),
      Prerequisite("FOBS", "RT-130", "RT"),
      Prerequisite("FIRB", "L-280", "ST"),
      ReplaceCourse("FSC2", "J-460", "S-460"),
      Prerequisite("FSC2", "L-480", "ST"),
      // FUM2 before FUM1.
      Prerequisite("FUM2", "S-580", "RT"),
      Prerequisite("FUM2", "RT-130", "RT"),
      Prerequisite("FUM2", "M-581", "ST"),
      Prerequisite("FUM1", "S-580", "RT"),
      Prerequisite("FUM1", "RT-130", "RT"),
      Prerequisite("FUM1", "M-581", "RT"),
      // GSUL's first row; its others belong to the next stage.
      Prerequisite("GSUL", "S-355", "ST"),
  };
}

}  // namespace

const std::vector<Step>& Training1Steps() { return BuiltOnce<BuildSteps>(); }

}  // namespace kav::stages
